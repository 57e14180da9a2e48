// The current user's settings as files: one file per key below the store folder, the key
// Software\A as <store>/HKEY_CURRENT_USER/Software/A.reg, in the syntax of registry export files
// (settings_document.h). Processes share the files under a flock on <file>.lock, shared for
// reading and exclusive for a read-modify-write, so that a reader never sees half a rewrite and
// two writers of different values lose neither. Files are rewritten in place: ext4 flushes a
// file renamed over another, which costs milliseconds.
//
// The engine opens its key, reads and writes two values and closes it at the start and end of
// every transfer, so a key must cost only a few system calls: the file and its lock file stay
// open between keys, a key holds the lock from its open to its close, and it writes once, when
// it is closed, and only when the text changed. The text is read again at every open: a file's
// status cannot prove it unchanged, as two rewrites within one tick of the coarse file clock
// leave the same status, and a read of so small a file costs no more than the status.
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/system/settings_document.h"
#include "platform/posix/system/support.h"
#include "platform/system.h"

namespace zemuser::platform {
namespace {

using posix::SettingsDocument;
using posix::UniqueFd;

// Far beyond any settings file; a larger one is not read into memory, nor overwritten.
constexpr off_t kMaxFileBytes = 1 << 20;
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
        const std::size_t end = std::min(subKey.find('\\'), subKey.size());
        const std::string_view segment = subKey.substr(0, end);
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find('/') != std::string_view::npos || end + 1 == subKey.size())
            return false;
        (keyPath += '/') += segment;
        subKey.remove_prefix(std::min(end + 1, subKey.size()));
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

bool Flock(const UniqueFd& fd, int operation) {
    int result;
    do {
        result = ::flock(fd.get(), operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
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
        if (generation_ != forkGeneration) {
            Forget();
            generation_ = forkGeneration;
        }
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

    std::optional<std::uint32_t> Read(const char* name) const {
        if (!usable_) return std::nullopt;
        return document_.FindDword(name != nullptr ? name : "");
    }

    void Write(const char* name, std::uint32_t value) {
        const std::string_view valueName = name != nullptr ? name : "";
        if (!posix::IsStorableValueName(valueName)) return;
        document_.SetDword(valueName, value);
        written_ = true;
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
            SetEmpty(errno == ENOENT || errno == ENOTDIR);
            return true;
        }
        if (!file_.valid() && !OpenFile(writable_ ? O_RDWR : O_RDONLY)) {
            SetEmpty(false);
            return true;
        }
        if (status.st_dev != fileDevice_ || status.st_ino != fileInode_) return false;
        if (!S_ISREG(status.st_mode) || status.st_size > kMaxFileBytes ||
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

    bool Load(std::size_t expected) {
        // One byte more than the size shows the end of the file in a single read.
        std::string text(expected + 1, '\0');
        std::size_t length = 0;
        while (true) {
            const ssize_t count = ::pread(file_.get(), &text[length], text.size() - length,
                                          static_cast<off_t>(length));
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) return false;
            length += static_cast<std::size_t>(count);
            if (count == 0 || (length >= expected && length < text.size())) break;
            if (length == text.size()) {  // grown meanwhile, by a writer that takes no lock
                if (length > static_cast<std::size_t>(kMaxFileBytes)) return false;
                text.resize(2 * length);
            }
        }
        text.resize(length);
        document_ = SettingsDocument::Parse(text);
        diskText_ = std::move(text);
        usable_ = true;
        return true;
    }

    void Commit() {
        if (!std::exchange(written_, false) || !usable_) return;
        std::string text = document_.Serialize();
        if (text == diskText_) return;
        // A file we may only read is opened without write access, which OpenFile then tells.
        const bool opened = locked_ && writable_ && (file_.valid() || OpenFile(O_RDWR | O_CREAT));
        if (opened && writable_ && Rewrite(text)) {
            diskText_ = std::move(text);
        } else {
            document_ = SettingsDocument::Parse(diskText_);  // dropped: the file's text counts
        }
    }

    bool Rewrite(const std::string& text) {
        auto writeAt0 = [this](const std::string& bytes) {
            for (std::size_t done = 0; done < bytes.size();) {
                const ssize_t count = ::pwrite(file_.get(), bytes.data() + done,
                                               bytes.size() - done, static_cast<off_t>(done));
                if (count < 0 && errno == EINTR) continue;
                if (count <= 0) return false;
                done += static_cast<std::size_t>(count);
            }
            return true;
        };
        // The end is cut only when the text gets shorter.
        auto cut = [this](const std::string& bytes, std::size_t before) {
            return bytes.size() >= before ||
                   ::ftruncate(file_.get(), static_cast<off_t>(bytes.size())) == 0;
        };
        if (writeAt0(text) && cut(text, diskText_.size())) return true;
        // Put the previous text back rather than leave a mixture of the two.
        if (writeAt0(diskText_)) cut(diskText_, text.size());
        return false;
    }

    // No text: a missing file (usable, the first write makes it) or one that is no settings
    // file (a folder, far too large, unreadable), which is never written.
    void SetEmpty(bool usable) noexcept {
        usable_ = usable;
        diskText_.clear();
        document_ = SettingsDocument();
        written_ = false;
    }

    void Forget() noexcept {
        lock_.Reset();
        locked_ = writable_ = false;
        file_.Reset();
    }

    const std::string path_;
    int users_ = 0;
    unsigned generation_ = forkGeneration;
    UniqueFd lock_;
    bool locked_ = false;
    bool writable_ = false;  // the lock file and the file opened for writing
    UniqueFd file_;
    dev_t fileDevice_ = 0;
    ino_t fileInode_ = 0;
    bool usable_ = true;
    std::string diskText_;       // the text as read or written
    SettingsDocument document_;  // the text with the writes of the open keys
    bool written_ = false;
};

// The files of the keys this process opened. Never destroyed: the engine opens its key once
// more while the process exits.
struct Store {
    static Store& Instance() {
        static Store* const store = [] {
            ::pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1); });
            return new Store;
        }();
        return *store;
    }

    KeyFile& FileFor(const std::string& path) {
        for (const auto& file : files)
            if (file->path() == path) return *file;
        if (files.size() >= kMaxIdleFiles) {
            files.erase(std::remove_if(files.begin(), files.end(),
                                       [](const auto& file) { return !file->InUse(); }),
                        files.end());
        }
        return *files.emplace_back(std::make_unique<KeyFile>(path));
    }

    // Held by a key from its open to its close; a thread may hold several keys.
    std::recursive_mutex mutex;
    std::vector<std::unique_ptr<KeyFile>> files;
};

class FileSettingsKey final : public UserSettingsKey {
  public:
    FileSettingsKey(std::unique_lock<std::recursive_mutex> hold, KeyFile& file)
        : hold_(std::move(hold)), file_(file) {
        file_.Begin();
    }
    ~FileSettingsKey() override { file_.End(); }

    bool ReadNumber(const char* name, std::uint32_t* value) override {
        const std::optional<std::uint32_t> found = file_.Read(name);
        if (found) *value = *found;
        return found.has_value();
    }

    void WriteNumber(const char* name, std::uint32_t value) override {
        try {
            file_.Write(name, value);
        } catch (const std::bad_alloc&) {
            // Dropped, like a write to a settings folder that cannot be written.
        }
    }

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
