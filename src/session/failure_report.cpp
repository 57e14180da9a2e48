#include "session/failure_report.h"

#include <cstdio>
#include <string>

#include "diag/trace_log.h"
#include "platform/system.h"

namespace zemuser {
namespace {

constexpr std::int32_t kErrorTraceLevel = 2;

// The error text line is bounded; a longer message is cut.
constexpr std::size_t kErrorTextLineSize = 1024;

const char* SchemePrefix(std::uint32_t mode) {
    switch (mode) {
        case 0:
            return "ftp://";
        case 1:
            return "http://";
        case 2:
            return "https://";
        default:
            return "";
    }
}

// The engine passes its own texts, but a session that never connected may hold no host.
const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

void EmitLine(const char* line) {
    platform::DebugOutput(line);
    TraceWrite(kErrorTraceLevel, "%s\n", line);
}

// The platform's text for the failure's code, if it has one.
void EmitCodeText(platform::ErrorCode code) {
    const std::string message = platform::InternetErrorText(code);
    if (message.empty()) return;  // not an internet error code: the first line stands alone
    char line[kErrorTextLineSize] = {};
    std::snprintf(line, sizeof line, "[%d, 0x%08x] %s", static_cast<int>(code),
                  static_cast<unsigned>(code), message.c_str());
    EmitLine(line);
}

// Reports are made on failure paths; nothing may escape them.
void Report(std::uint32_t mode, const char* host, std::int32_t port, const char* path,
            Failure failure) noexcept {
    try {
        std::string line = "[ ";
        line += SchemePrefix(mode);
        line += OrEmpty(host);
        line += ':';
        line += std::to_string(port);
        line += OrEmpty(path);
        line += " ] ";
        line += OrEmpty(failure.text);
        EmitLine(line.c_str());
        EmitCodeText(failure.code);
    } catch (...) {
        // Out of memory: nothing more can be said.
    }
}

}  // namespace

void ReportConnectionFailure(const char* host, std::int32_t port, std::uint32_t mode,
                             Failure failure) {
    Report(mode, host, port, nullptr, failure);
}

void ReportRequestFailure(const char* host, std::int32_t port, std::uint32_t mode, const char* path,
                          Failure failure) {
    Report(mode, host, port, path, failure);
}

}  // namespace zemuser
