// What to do with a response that points elsewhere.
#pragma once

#include <string>

#include "platform/posix/internet/response_head.h"
#include "platform/posix/internet/send_state.h"

namespace platform::internet {

enum class RedirectStep { None, Follow, NeedsConfirmation, Failed };

// The absolute URL that the destination stands for.
std::string DestinationUrl(const Destination& destination);

// Decides on `head`; for Follow, `next` is where the request goes now.
RedirectStep DecideRedirect(const Destination& current, const ResponseHead& head,
                            Destination* next);

// The object name made fit for the request line: control characters and spaces escaped, a
// path that does not start with "/" given one.
std::string RequestTarget(const std::string& objectName);
bool IsAbsoluteUrl(const std::string& text);

}  // namespace platform::internet
