// Debugger output goes to a file chosen by the environment, since there is no debugger to
// receive it. The file is opened for each text so that it may be moved or removed at any time.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/system/unique_fd.h"
#include "platform/system.h"

namespace zemuser::platform {
namespace {

void WriteWhole(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        done += static_cast<std::size_t>(count);
    }
}

}  // namespace

void DebugOutput(const char* text) {
    const char* target = std::getenv("ZEMUSER_DEBUG_OUTPUT");
    if (text == nullptr || *text == '\0' || target == nullptr || *target == '\0') return;
    // A debugger shows every text as an entry of its own; in a file that takes a line break.
    std::string entry(text);
    if (entry.back() != '\n') entry.push_back('\n');
    // One write per entry keeps the entries of concurrent threads and processes whole.
    const int savedError = errno;
    if (std::strcmp(target, "-") == 0) {
        WriteWhole(STDERR_FILENO, entry);
    } else if (auto file = posix::OpenRetrying(target, O_WRONLY | O_APPEND | O_CREAT, 0666);
               file.valid()) {
        WriteWhole(file.get(), entry);
    }
    errno = savedError;
}

}  // namespace zemuser::platform
