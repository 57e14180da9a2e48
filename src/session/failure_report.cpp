#include "session/failure_report.h"

#include <cstdio>
#include <memory>
#include <string>

#include "diag/trace_log.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kErrorTraceLevel = 2;

// The error text line is bounded; a longer message is cut.
constexpr std::size_t kErrorTextLineSize = 1024;

const char* SchemePrefix(uint32_t mode) {
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
    // The debugger output may change the thread's last error (Wine's does), and the error
    // text line still needs the code of the failure.
    const DWORD lastError = GetLastError();
    OutputDebugStringA(line);
    TraceWrite(kErrorTraceLevel, "%s\n", line);
    SetLastError(lastError);
}

struct LocalFreeDeleter {
    void operator()(char* text) const { LocalFree(text); }
};
using LocalText = std::unique_ptr<char, LocalFreeDeleter>;

// The internet layer's text for the thread's last error code, if it has one. The code is
// read only now, after the first line has been written.
void EmitLastErrorText() {
    const DWORD code = GetLastError();
    char* allocated = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE,
        GetModuleHandleA("wininet.dll"), code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
    const LocalText message(allocated);
    if (length == 0 || message == nullptr) {
        return;  // not an internet error code: the first line stands alone
    }
    char line[kErrorTextLineSize] = {};
    std::snprintf(line, sizeof line, "[%d, 0x%08x] %s", static_cast<int>(code),
                  static_cast<unsigned>(code), message.get());
    EmitLine(line);
}

// Reports are made from catch handlers; nothing may escape them.
void Report(uint32_t mode, const char* host, int32_t port, const char* path,
            const char* text) noexcept {
    try {
        std::string line = "[ ";
        line += SchemePrefix(mode);
        line += OrEmpty(host);
        line += ':';
        line += std::to_string(port);
        line += OrEmpty(path);
        line += " ] ";
        line += OrEmpty(text);
        EmitLine(line.c_str());
    } catch (...) {
        // Out of memory for the first line: the error text below still goes out.
    }
    EmitLastErrorText();
}

}  // namespace

void ReportConnectionFailure(const char* host, int32_t port, uint32_t mode, const char* text) {
    Report(mode, host, port, nullptr, text);
}

void ReportRequestFailure(const char* host, int32_t port, uint32_t mode, const char* path,
                          const char* text) {
    Report(mode, host, port, path, text);
}
