#include "diag/trace_log.h"

#include <cstdlib>
#include <cstring>

namespace zemuser {

namespace {

// Lines traced during other static initialisation are dropped: zero-initialised, the log has
// no file open.
TraceLog g_traceLog;

// Registered during static initialisation, so at unload it runs after the termination actions
// registered later on first use (the CPU meter, the session counter), which may still trace.
struct CloseTraceFileAtExit {
    CloseTraceFileAtExit() {
        std::atexit([] { g_traceLog.SetFile(nullptr); });
    }
};
const CloseTraceFileAtExit g_closeTraceFileAtExit;

// One line as formatted; the bound keeps over-long host texts (URLs, paths) inside it.
constexpr std::size_t kLineBufferSize = 2048;

}  // namespace

TraceLog& TraceLog::Instance() {
    return g_traceLog;
}

void TraceLog::SetFile(const char* path) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stream != nullptr) std::fclose(m_stream);
    m_stream = path != nullptr ? std::fopen(path, "w+") : nullptr;
    m_open = m_stream != nullptr;
}

void TraceLog::SetLevel(int32_t level) {
    m_level.store(level, std::memory_order_relaxed);
}

void TraceLog::Write(int32_t level, const char* format, va_list args) {
    if (level < m_level.load(std::memory_order_relaxed) || !m_open) {
        return;
    }
    char line[kLineBufferSize];
    // The analyzer loses track of the list that TraceWrite started and passes down.
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
    const int length = std::vsnprintf(line, sizeof line, format, args);
    if (length < 0) {
        return;  // nothing sensible was formatted
    }
    // A cut line keeps its line end, so that the next line starts on a line of its own.
    if (static_cast<std::size_t>(length) >= sizeof line &&
        format[std::strlen(format) - 1] == '\n') {
        line[sizeof line - 2] = '\n';
    }
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stream == nullptr) return;
    std::fputs(line, m_stream);
    std::fflush(m_stream);
}

// printf-style on purpose: every trace line of the library is a printf format.
void TraceWrite(int32_t level, const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
    va_list args;
    va_start(args, format);
    TraceLog::Instance().Write(level, format, args);
    va_end(args);
}

}  // namespace zemuser
