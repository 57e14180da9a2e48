// The live transfer handles. A handle is an opaque value that is never reused, so a null or
// already ended handle is recognised instead of being taken for a session.
#pragma once

#include <memory>

#include "session/transfer_session.h"
#include "zemuser.h"

namespace zemuser {

using SessionRef = std::shared_ptr<TransferSession>;

TransferHandle RegisterSession(SessionRef session);
// The session behind a live handle; null for a null, unknown or ended handle. The reference
// keeps the session alive for the caller even if the handle is ended meanwhile.
SessionRef FindSession(TransferHandle handle);
// Takes the handle out of the live set; the session goes when its last user lets go.
SessionRef RemoveSession(TransferHandle handle);

}  // namespace zemuser
