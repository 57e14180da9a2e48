// What the engine takes from the operating system besides the network: files, text
// conversion, the user's two HTTP/1.1 settings, debug output, processor times and the rules of
// file names. One backend per system implements this header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zemuser::platform {

// UTF-16 text, as the wide calls of the public interface take it.
#if defined(_WIN32)
using WideChar = wchar_t;
#else
using WideChar = char16_t;
#endif
using WideString = std::basic_string<WideChar>;

// ---- text ----

// The UTF-8 form of wide text; empty for null text or text that does not convert.
std::string Utf8FromWide(const WideChar* text);
// Wide text from narrow text in the system's narrow code page (UTF-8 on POSIX); empty for null
// text or text that does not convert.
WideString WideFromNarrow(const char* text);

// ---- files ----

// A file open for reading, closed with the object.
class InputFile {
  public:
    static InputFile Open(const char* path);
    static InputFile Open(const WideChar* path);
    InputFile() = default;
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    bool IsOpen() const { return handle_ != kClosed; }
    // The whole size when it was opened; 0 when it is not open or cannot be measured.
    std::uint64_t Size() const { return size_; }
    // Reads at most `size` bytes; false on a failure. `*count` 0 at the end of the file.
    bool Read(void* buffer, std::uint32_t size, std::uint32_t* count);

  private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;  // the system's handle or descriptor
    std::uint64_t size_ = 0;
};

// A file that takes the place of `target` only once it is whole: it is written under a new
// name beside the target (created exclusively, never through a link) and renamed over the
// target by Commit. Until then, and for good when it is not committed, the target is left as
// it was; an uncommitted file is removed with the object.
class ReplacementFile {
  public:
    // Not open when the target's folder takes no new file, or the target is a folder.
    static ReplacementFile Create(const char* target);
    static ReplacementFile Create(const WideChar* target);
    ReplacementFile() = default;
    ReplacementFile(ReplacementFile&& other) noexcept;
    ReplacementFile& operator=(ReplacementFile&& other) noexcept;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile();

    bool IsOpen() const { return handle_ != kClosed; }
    // Writes all `size` bytes; false when the system took fewer (a full disk, say).
    bool Write(const void* data, std::uint32_t size);
    // Closes the file and gives it the target's name, replacing a file of that name; false,
    // with the file removed, when that fails.
    bool Commit();

  private:
    void Discard();

    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;
    // The names in the form the system's calls take: narrow, or wide where the system has
    // wide calls (POSIX turns wide names into narrow UTF-8 ones).
    std::string temporary_, target_;
    WideString wideTemporary_, wideTarget_;
};

bool RemoveFile(const char* path);
bool RemoveFile(const WideChar* path);
// True when the path names an existing folder.
bool IsFolder(const char* path);
bool IsFolder(const WideChar* path);

// The separator placed between a folder and a file name.
const char* PathSeparator();
const WideChar* WidePathSeparator();
// True for a character dropped from a file name that a server announces, besides the control
// characters and the folder separators every system drops (a drive separator, say).
bool IsDroppedFileNameCharacter(char c);
// True when a bare file name may not be used on this system (a reserved device name, say).
bool IsUnusableFileName(const std::string& name);

// ---- the user's settings ----

// One key of the current user's settings, open for reading and writing until the object goes.
// Writes may be held back and made when the key is closed.
class UserSettingsKey {
  public:
    virtual ~UserSettingsKey() = default;
    // False when the value is missing or not a 32-bit number.
    virtual bool ReadNumber(const char* name, std::uint32_t* value) = 0;
    virtual void WriteNumber(const char* name, std::uint32_t value) = 0;
};

// Null when the key cannot be opened.
std::unique_ptr<UserSettingsKey> OpenUserSettingsKey(const char* path);

// ---- diagnostics ----

// Hands a text to the system's debugger output (on POSIX: appended to the file named by
// ZEMUSER_DEBUG_OUTPUT, "-" for standard error; nowhere when unset).
void DebugOutput(const char* text);

// The clocks and processor times of the CPU usage meter. Times are 100-nanosecond units.
class CpuClock {
  public:
    virtual ~CpuClock() = default;
    // Milliseconds since some start; wraps around at 2^32.
    virtual std::uint32_t TickCount() = 0;
    virtual std::int64_t SystemTime() = 0;
    // The whole machine's idle, kernel (idle included) and user times; false when the query
    // failed. A system without the query gives zeros and true.
    virtual bool SystemTimes(std::int64_t* idle, std::int64_t* kernel, std::int64_t* user) = 0;
    // This process's kernel and user times; false when the query failed.
    virtual bool ProcessTimes(std::int64_t* kernel, std::int64_t* user) = 0;
};

std::unique_ptr<CpuClock> OpenCpuClock();

}  // namespace zemuser::platform
