#include "library_reports.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>

namespace {

constexpr const char* kDebugOutputVariable = "ZEMUSER_DEBUG_OUTPUT";

void WriteWhole(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return;
        done += static_cast<std::size_t>(count);
    }
}

// As the library itself writes there: appended, opened for each text, "-" for stderr.
void PassOn(const std::string& target, const std::string& text) {
    if (text.empty()) return;
    if (target == "-") {
        WriteWhole(STDERR_FILENO, text);
        return;
    }
    const int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;
    WriteWhole(fd, text);
    ::close(fd);
}

std::string WithoutTrailing(std::string text, const char* characters) {
    text.erase(text.find_last_not_of(characters) + 1);
    return text;
}

// The library's failure texts are terse engine phrases; these say the same for a user.
std::string InPlainWords(const std::string& failure) {
    static const struct {
        const char* failure;
        const char* plain;
    } kPhrases[] = {
        {"connect failed", "could not connect"},
        {"connection failed", "could not connect"},
        {"open internet failed", "the network layer could not be started"},
        {"request failed", "the request failed"},
        {"request canceled", "the request was cancelled"},
        {"response failed", "the answer could not be read"},
        {"query status code failed", "the answer has no readable status"},
        {"query content-length failed", "the answer's length could not be read"},
        {"query content-disposition failed", "the answer's file name could not be read"},
        {"handle not opened", "no connection was open"},
        {"add cookie failed", "a cookie could not be added to the request"},
        {"additional header failed", "a header could not be added to the request"},
        {"unknown exception", "the library met an unexpected failure"},
    };
    for (const auto& phrase : kPhrases) {
        if (failure == phrase.failure) return phrase.plain;
    }
    return failure;
}

}  // namespace

LibraryReports::LibraryReports() {
    const char* user = std::getenv(kDebugOutputVariable);
    // The library opens the target by name for every text; /proc/self/fd names the private
    // file without leaving anything behind in a folder.
    const int fd = memfd_create("zemuser-library-reports", MFD_CLOEXEC);
    if (fd < 0) return;
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    const int probe = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (probe < 0 || setenv(kDebugOutputVariable, name.c_str(), 1) != 0) {
        if (probe >= 0) ::close(probe);
        ::close(fd);
        return;  // the user's own target, if any, stays as it was
    }
    ::close(probe);
    captureFd_ = fd;
    if (user != nullptr && *user != '\0') userTarget_ = user;
}

LibraryReports::~LibraryReports() {
    if (captureFd_ >= 0) ::close(captureFd_);
}

std::string LibraryReports::TakeNew() {
    if (captureFd_ < 0) return std::string();
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::pread(captureFd_, chunk, sizeof chunk, consumed_);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        text.append(chunk, static_cast<std::size_t>(count));
        consumed_ += count;
    }
    // Read, the text need not take memory any more.
    if (ftruncate(captureFd_, 0) == 0) consumed_ = 0;
    if (userTarget_) PassOn(*userTarget_, text);
    return text;
}

std::optional<std::string> LastFailureReason(const std::string& reports) {
    static const std::regex kCodeLine(R"(\[(\d+), 0x[0-9a-f]{8}\] (.*))");
    std::optional<std::string> reason;
    bool afterFirstLine = false;
    std::istringstream lines(reports);
    std::string line;
    while (std::getline(lines, line)) {
        line = WithoutTrailing(line, "\r");
        std::smatch code;
        const std::size_t bracket = line.find(" ] ");
        if (line.compare(0, 2, "[ ") == 0 && bracket != std::string::npos) {
            reason = InPlainWords(WithoutTrailing(line.substr(bracket + 3), ". "));
            afterFirstLine = true;
        } else if (afterFirstLine && std::regex_match(line, code, kCodeLine)) {
            // The library's text is a sentence; the code follows it as curl shows its own.
            reason = WithoutTrailing(code[2].str(), ". ") + " (" + code[1].str() + ")";
            afterFirstLine = false;
        } else {
            afterFirstLine = false;
        }
    }
    return reason;
}
