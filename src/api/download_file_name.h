// The file name a reply announces in its Content-Disposition header.
#pragma once

#include <string>

#include "session/transfer_session.h"

namespace zemuser {

// Everything after the first "=" that follows the first ";", trimmed of white space and then of
// double quotes; empty when the reply announces none.
std::string ParseDispositionFileName(const std::string& disposition);

// The announced name comes from an untrusted server: reduce it to a plain file name that can
// never leave the folder it is joined to. Folders before the last "/" or "\" and control
// characters are dropped, then leading dots; an empty name, or one the platform cannot use,
// gives "".
std::string CleanAnnouncedName(const std::string& name);

// The cleaned name announced by the session's answered request.
std::string DownloadFileName(TransferSession& session);

}  // namespace zemuser
