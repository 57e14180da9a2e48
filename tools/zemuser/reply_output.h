// The ending shared by the commands that receive a reply in memory (get, post).
#pragma once

#include <cstdint>
#include <string>

#include "command.h"
#include "library_handles.h"

struct ReplyOutcome {
    std::int32_t result;  // the call's result: the reply's length, -1 when it failed
    std::int32_t status;  // HTTP status, 0 when unanswered
    ReplyBuffer body;
    std::int32_t length;
};

// Reports "HTTP <status>" on stderr, writes the body to stdout or `outputFile` and gives the
// exit status: not 2xx is an error too, but its body is still written.
int FinishReply(const ReplyOutcome& reply, const std::string& url, const std::string& outputFile,
                const CommandContext& context);
