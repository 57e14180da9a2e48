// The process-wide trace file: plain text lines, each written whole and flushed at once.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace zemuser {

class TraceLog {
  public:
    // No file and the threshold 0. Not constexpr: a mutex of the Windows threads runtime
    // has no constant constructor (a line traced before construction finds no file open).
    TraceLog() noexcept = default;
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // The library's one instance; its file is closed at unload.
    static TraceLog& Instance();

    // Closes the current file, then opens `path` empty ("w+"). A null path only closes; a
    // path that cannot be opened leaves tracing off. Writers on other threads finish their
    // line first, and later lines go to the new file.
    void SetFile(const char* path);
    // A line is written only if its level is at least this value (signed; any value).
    void SetLevel(int32_t level);
    // Formats one complete line (the format carries its own "\n") and writes it with one
    // fputs and one fflush. A line is cut at 2047 characters.
    void Write(int32_t level, const char* format, va_list args);

  private:
    // A writer holds the lock from its look at the stream to the end of its line, so the
    // stream cannot be closed under it and lines never mix.
    std::mutex m_lock;
    std::FILE* m_stream = nullptr;
    // Read without the lock, so that no line is formatted while no file is open.
    std::atomic<bool> m_open{false};
    std::atomic<int32_t> m_level{0};
};

// The one way the engine writes a trace line.
void TraceWrite(int32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace zemuser
