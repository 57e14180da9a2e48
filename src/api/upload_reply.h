// The reply of an upload: one read of at most 1024 bytes; success when it starts with "OK" or
// with CR LF and "OK", both anchored at the first byte and case-sensitive.
#pragma once

#include <string>

#include "session/transfer_session.h"

namespace zemuser {

std::string ReadUploadReply(TransferSession& session);
bool IsUploadAccepted(const std::string& reply);
// The reply as a trace line may show it: control characters other than TAB written as \xNN, so
// that a server can neither forge trace lines nor reach the terminal of whoever reads them.
std::string TraceableReply(const std::string& reply);

}  // namespace zemuser
