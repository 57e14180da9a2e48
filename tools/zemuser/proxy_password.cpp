#include "proxy_password.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "exit_codes.h"
#include "messages.h"

namespace {

constexpr std::size_t kLongestPassword = 4096;
// Ctrl-C is taken by the signal thread, so the read looks at the cancel state between waits.
constexpr int kCancelCheckMs = 100;

// Keeps the typed password off the screen while it lives.
class EchoOff {
  public:
    EchoOff() {
        if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    termios saved_{};
    bool active_ = false;
};

enum class LineRead { Done, Empty, TooLong, Cancelled };

// The first line of standard input, without its line end.
LineRead ReadLine(std::string& line, const CancelState& cancel) {
    for (;;) {
        if (cancel.Cancelled()) return LineRead::Cancelled;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&input, 1, kCancelCheckMs);
        if (ready < 0 && errno != EINTR) return line.empty() ? LineRead::Empty : LineRead::Done;
        if (ready <= 0) continue;
        char byte = 0;
        const ssize_t count = read(STDIN_FILENO, &byte, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return line.empty() ? LineRead::Empty : LineRead::Done;
        if (byte == '\n') break;
        if (line.size() == kLongestPassword) return LineRead::TooLong;
        line.push_back(byte);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return LineRead::Done;
}

}  // namespace

std::optional<int> ResolveProxyPassword(CommonOptions& options, const CancelState& cancel) {
    if (!options.proxyPassword) {
        const char* fromEnvironment = std::getenv("ZEMUSER_PROXY_PASSWORD");
        if (fromEnvironment != nullptr) options.proxyPassword = fromEnvironment;
        return std::nullopt;
    }
    if (*options.proxyPassword != "-") return std::nullopt;

    std::string password;
    LineRead outcome;
    if (isatty(STDIN_FILENO)) {
        std::fputs("Proxy password: ", stderr);
        std::fflush(stderr);
        {
            EchoOff echoOff;
            outcome = ReadLine(password, cancel);
        }
        std::fputs("\n", stderr);  // the Enter key was not echoed either
    } else {
        outcome = ReadLine(password, cancel);
    }
    switch (outcome) {
        case LineRead::Done:
            options.proxyPassword = password;
            return std::nullopt;
        case LineRead::Cancelled:
            return ReportCancelled();
        case LineRead::TooLong:
            PrintError("the proxy password on standard input is longer than " +
                       std::to_string(kLongestPassword) + " bytes");
            return kExitUsage;
        case LineRead::Empty:
            break;
    }
    PrintError("--proxy-password -: no password on standard input");
    return kExitUsage;
}
