// The current user's settings as files: the key Software\A is <store>/HKEY_CURRENT_USER/
// Software/A.reg, in the syntax of registry export files, e.g. "EnableHttp1_1"=dword:00000000.
// Only dword values are understood; every other line is kept exactly as it stands.
//
// Processes share a file under a flock on <file>.lock, shared for reading and exclusive for a
// read-modify-write, so that no reader sees half a rewrite and no writer's value is lost. Files
// are rewritten in place: ext4 flushes a file renamed over another, which costs milliseconds.
//
// The engine opens its key, reads and writes two values and closes it at the start and end of
// every transfer, so a key must cost only a few system calls: the file and its lock file stay
// open between keys, a key holds the lock from its open to its close and writes once, when it
// is closed, and only when the text changed. The text is read again at every open: two rewrites
// within one tick of the coarse file clock leave the same status, and the read costs no more.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <new>

#include "platform/posix/system/support.h"

namespace zemuser::platform {
namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The length of the line's "name"= part when the line assigns a value to `name`, else 0. Names
// match without regard to case, as in the registry; \" and \\ are the only escapes.
std::size_t NamePartLength(std::string_view line, std::string_view name) {
    if (line.substr(0, 1) != "\"") return 0;
    std::size_t i = 1;
    for (char c : name) {
        if ((c == '"' || c == '\\') && line.substr(i++, 1) != "\\") return 0;  // its escape first
        if (i == line.size() || LowerAscii(line[i++]) != LowerAscii(c)) return 0;
    }
    return line.substr(i, 2) == "\"=" ? i + 2 : 0;
}

// "dword:" and one to eight hexadecimal digits, nothing else.
std::optional<std::uint32_t> ParseDword(std::string_view data) {
    if (!data.empty() && data.back() == '\r') data.remove_suffix(1);  // written on Windows
    constexpr std::string_view kPrefix = "dword:";
    if (data.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    data.remove_prefix(kPrefix.size());
    std::uint32_t value = 0;
    const char* end = data.data() + data.size();
    if (data.empty() || data.size() > 8 || std::from_chars(data.data(), end, value, 16).ptr != end)
        return std::nullopt;
    return value;
}

template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::string_view line = text.substr(0, text.find('\n'));
        visit(line);
        text.remove_prefix(std::min(line.size() + 1, text.size()));
    }
}

// When several lines name the value, the last one counts, as when such a file is imported; a
// value that is not a well-formed dword counts as missing.
bool FindDword(std::string_view text, std::string_view name, std::uint32_t* value) {
    std::optional<std::uint32_t> found;
    ForEachLine(text, [&](std::string_view line) {
        if (const std::size_t named = NamePartLength(line, name))
            found = ParseDword(line.substr(named));
    });
    if (found) *value = *found;
    return found.has_value();
}

// The first line naming the value takes the new one, keeping the name's spelling there as the
// registry does, and later ones go; without such a line, one is added. Every line ends in '\n'.
std::string WithDword(std::string_view text, std::string_view name, std::uint32_t value) {
    char dword[16];
    std::snprintf(dword, sizeof dword, "dword:%08x\n", static_cast<unsigned>(value));
    std::string result;
    bool set = false;
    ForEachLine(text, [&](std::string_view line) {
        if (const std::size_t named = NamePartLength(line, name)) {
            if (!std::exchange(set, true)) (result += line.substr(0, named)) += dword;
        } else {
            (result += line) += '\n';
        }
    });
    if (set) return result;
    result += '"';
    for (char c : name) {
        if (c == '"' || c == '\\') result += '\\';
        result += c;
    }
    return (result += "\"=") += dword;
}

// Far beyond any settings file; a larger one is not read into memory, nor overwritten.
constexpr std::size_t kMaxFileBytes = 1 << 20;
// Files kept open while no key uses them; more come only from a changing store folder.
constexpr std::size_t kMaxIdleFiles = 8;

// Counts forks. A child must not use its parent's descriptors: a flock belongs to the open
// file, which the two would share, so it would not keep them apart.
std::atomic<unsigned> forkGeneration{0};

const char* NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

std::optional<std::string> StoreFolder() {
    if (const char* folder = NonEmptyEnv("ZEMUSER_SETTINGS_DIR")) return std::string(folder);
    // A relative XDG_CONFIG_HOME is to be ignored, by the rules of that variable.
    if (const char* config = NonEmptyEnv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        return std::string(config) + "/zemuser";
    if (const char* home = NonEmptyEnv("HOME")) return std::string(home) + "/.config/zemuser";
    return std::nullopt;
}

// Appends the backslash-separated `subKey` to the slash-separated `keyPath`. False for a sub
// key that could reach outside its parent or name one key in two ways: an empty segment, "."
// or "..", or a "/" inside a segment.
bool AppendSubKey(std::string& keyPath, std::string_view subKey) {
    while (!subKey.empty()) {
        const std::string_view segment = subKey.substr(0, subKey.find('\\'));
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find('/') != std::string_view::npos || segment.size() + 1 == subKey.size())
            return false;
        (keyPath += '/') += segment;
        subKey.remove_prefix(std::min(segment.size() + 1, subKey.size()));
    }
    return true;
}

// Like mkdir -p for the folder that holds `path`; a folder that exists already is fine.
bool CreateParentFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        if (::mkdir(path.substr(0, slash).c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool Flock(const posix::UniqueFd& fd, int operation) {
    return posix::RetryOnSignal([&] { return ::flock(fd.get(), operation); }) == 0;
}

// The file of one key. Used under the store's mutex only.
class KeyFile {
  public:
    explicit KeyFile(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }
    bool InUse() const { return users_ > 0; }

    // A key's open: takes the lock and reads the text.
    void Begin() noexcept {
        if (users_++ > 0) return;
        if (std::exchange(generation_, forkGeneration) != forkGeneration) Forget();
        try {
            for (int round = 0; round < 3; ++round) {
                if (!lock_.valid()) OpenLock();
                locked_ = lock_.valid() && Flock(lock_, writable_ ? LOCK_EX : LOCK_SH);
                if (Refresh()) return;
                Forget();  // replaced, perhaps with its folder and lock file: start afresh
            }
        } catch (const std::bad_alloc&) {
        }
        SetEmpty(false);
    }

    // A key's close: writes what changed; the last user releases the lock.
    void End() noexcept {
        try {
            Commit();
        } catch (const std::bad_alloc&) {
            SetEmpty(false);  // the next key reads the file again
        }
        if (--users_ == 0 && std::exchange(locked_, false)) Flock(lock_, LOCK_UN);
    }

    bool Read(const char* name, std::uint32_t* value) const {
        return usable_ && FindDword(text_, name != nullptr ? name : "", value);
    }

    // Dropped for a name that cannot stand on one line of the file, or without memory, like a
    // write to a settings folder that cannot be written.
    void Write(const char* name, std::uint32_t value) noexcept {
        if (name == nullptr) name = "";
        try {
            if (usable_ && !std::strpbrk(name, "\r\n")) text_ = WithDword(text_, name, value);
        } catch (const std::bad_alloc&) {
        }
    }

  private:
    void OpenLock() {
        const std::string lockPath = path_ + ".lock";
        lock_ = posix::OpenRetrying(lockPath.c_str(), O_RDWR | O_CREAT);
        if (!lock_.valid() && errno == ENOENT && CreateParentFolders(path_))
            lock_ = posix::OpenRetrying(lockPath.c_str(), O_RDWR | O_CREAT);
        writable_ = lock_.valid();
        // In a folder we may not write to, an existing lock file still keeps us from reading
        // half a rewrite; without one there is no writer to wait for.
        if (!lock_.valid()) lock_ = posix::OpenRetrying(lockPath.c_str(), O_RDONLY);
    }

    // False when the file was replaced and must be opened afresh.
    bool Refresh() {
        struct stat status {};
        if (::stat(path_.c_str(), &status) != 0) {
            if (file_.valid()) return false;  // removed since: its folder may be new as well
            SetEmpty(errno == ENOENT || errno == ENOTDIR);  // missing: the first write makes it
            return true;
        }
        if (!file_.valid()) OpenFile(writable_ ? O_RDWR : O_RDONLY);
        if (file_.valid() && (status.st_dev != fileDevice_ || status.st_ino != fileInode_))
            return false;
        // Neither a folder nor a file far too large or unreadable is a settings file.
        if (!file_.valid() || !S_ISREG(status.st_mode) ||
            static_cast<std::size_t>(status.st_size) > kMaxFileBytes ||
            !Load(static_cast<std::size_t>(status.st_size)))
            SetEmpty(false);
        return true;
    }

    bool OpenFile(int flags) {
        file_ = posix::OpenRetrying(path_.c_str(), flags);
        if (!file_.valid() && errno == EACCES && (flags & O_RDWR) != 0) {  // we may only read it
            file_ = posix::OpenRetrying(path_.c_str(), O_RDONLY);
            writable_ = false;
        }
        struct stat status {};
        if (!file_.valid() || ::fstat(file_.get(), &status) != 0) {
            file_.Reset();
            return false;
        }
        fileDevice_ = status.st_dev;
        fileInode_ = status.st_ino;
        return true;
    }

    bool Load(std::size_t size) {
        // One byte more than the size shows the end of the file in a single read.
        std::string text(size + 1, '\0');
        std::size_t length = 0;
        ssize_t count;
        do {
            if (length == text.size()) {  // grown meanwhile, by a writer that takes no lock
                if (length > kMaxFileBytes) return false;
                text.resize(2 * length);
            }
            count = posix::RetryOnSignal([&] {
                return ::pread(file_.get(), &text[length], text.size() - length,
                               static_cast<off_t>(length));
            });
            if (count < 0) return false;
            length += static_cast<std::size_t>(count);
        } while (count > 0 && (length < size || length == text.size()));
        text.resize(length);
        text_ = diskText_ = std::move(text);
        usable_ = true;
        return true;
    }

    void Commit() {
        if (!usable_ || text_ == diskText_) return;
        // A file we may only read is opened without write access, which OpenFile then tells.
        const bool opened = locked_ && writable_ && (file_.valid() || OpenFile(O_RDWR | O_CREAT));
        if (opened && writable_ && Rewrite()) {
            diskText_ = text_;
        } else {
            text_ = diskText_;  // dropped: the file's text counts
        }
    }

    // Puts the new text in place of the one on disk, or back the one on disk rather than leave
    // a mixture of the two.
    bool Rewrite() {
        auto put = [this](const std::string& text, std::size_t before) {
            // The end is cut only when the text gets shorter.
            return posix::WriteAll(file_.get(), text, 0) &&
                   (text.size() >= before ||
                    ::ftruncate(file_.get(), static_cast<off_t>(text.size())) == 0);
        };
        if (put(text_, diskText_.size())) return true;
        put(diskText_, text_.size());
        return false;
    }

    // No text: a missing file (usable, the first write makes it) or one that is no settings
    // file, which is never written.
    void SetEmpty(bool usable) noexcept {
        usable_ = usable;
        diskText_.clear();
        text_.clear();
    }

    void Forget() noexcept {
        lock_.Reset();
        locked_ = writable_ = false;
        file_.Reset();
    }

    const std::string path_;
    int users_ = 0;
    unsigned generation_ = forkGeneration;
    posix::UniqueFd lock_;
    bool locked_ = false;
    bool writable_ = false;  // the lock file and the file opened for writing
    posix::UniqueFd file_;
    dev_t fileDevice_ = 0;
    ino_t fileInode_ = 0;
    bool usable_ = true;
    std::string diskText_;  // the text as read or written
    std::string text_;      // the text with the writes of the open keys
};

// The files of the keys this process opened.
struct Store {
    static Store& Instance() {
        // Never destroyed: the engine opens its key once more while the process exits.
        static Store* const store = [] {
            ::pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1); });
            return new Store;
        }();
        return *store;
    }

    KeyFile& FileFor(const std::string& path) {
        for (KeyFile& file : files)
            if (file.path() == path) return file;
        if (files.size() >= kMaxIdleFiles)
            files.remove_if([](const KeyFile& file) { return !file.InUse(); });
        return files.emplace_back(path);
    }

    // Held by a key from its open to its close; a thread may hold several keys.
    std::recursive_mutex mutex;
    std::list<KeyFile> files;
};

class FileSettingsKey final : public UserSettingsKey {
  public:
    FileSettingsKey(std::unique_lock<std::recursive_mutex> hold, KeyFile& file)
        : hold_(std::move(hold)), file_(file) {
        file_.Begin();
    }
    ~FileSettingsKey() override { file_.End(); }

    bool ReadNumber(const char* name, std::uint32_t* value) override {
        return file_.Read(name, value);
    }

    void WriteNumber(const char* name, std::uint32_t value) override { file_.Write(name, value); }

  private:
    std::unique_lock<std::recursive_mutex> hold_;
    KeyFile& file_;
};

}  // namespace

std::unique_ptr<UserSettingsKey> OpenUserSettingsKey(const char* path) {
    if (path == nullptr) return nullptr;
    try {
        const std::optional<std::string> folder = StoreFolder();
        std::string keyPath = "HKEY_CURRENT_USER";
        if (!folder || !AppendSubKey(keyPath, path)) return nullptr;
        Store& store = Store::Instance();
        std::unique_lock<std::recursive_mutex> hold(store.mutex);
        return std::make_unique<FileSettingsKey>(std::move(hold),
                                                 store.FileFor(*folder + "/" + keyPath + ".reg"));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace zemuser::platform
