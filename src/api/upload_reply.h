// The reply of an upload: one read of at most 1024 bytes; success when it starts with "OK" or
// with CR LF and "OK", both anchored at the first byte and case-sensitive.
#pragma once

#include <string>

#include "session/transfer_session.h"

namespace zemuser {

std::string ReadUploadReply(TransferSession& session);
bool IsUploadAccepted(const std::string& reply);

}  // namespace zemuser
