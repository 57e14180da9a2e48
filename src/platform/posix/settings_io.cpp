#include "platform/posix/settings_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/error_codes.h"
#include "platform/posix/unique_fd.h"

namespace platform::posix {
namespace {

// Far beyond any settings file; a larger one is not read into memory.
constexpr std::size_t kMaxSettingsFileBytes = 1 << 20;

LONG StatusFromErrno(int error) {
    if (error == ENOENT || error == ENOTDIR) return ERROR_FILE_NOT_FOUND;
    return static_cast<LONG>(ErrorFromErrno(error));
}

bool WriteWholeAt0(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count =
            ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            if (count == 0) errno = ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(count);
    }
    return true;
}

// Puts exactly `text` into the file; on failure tries to put the previous text back.
LONG Rewrite(int fd, const std::string& text, const std::string& previous) {
    if (WriteWholeAt0(fd, text) && ::ftruncate(fd, static_cast<off_t>(text.size())) == 0) {
        return ERROR_SUCCESS;
    }
    const int error = errno;
    if (WriteWholeAt0(fd, previous)) ::ftruncate(fd, static_cast<off_t>(previous.size()));
    return StatusFromErrno(error);
}

LONG ReadAll(int fd, std::string& text) {
    text.clear();
    struct stat status {};
    if (::fstat(fd, &status) != 0) return StatusFromErrno(errno);
    if (!S_ISREG(status.st_mode)) return ERROR_ACCESS_DENIED;
    char buffer[4096];
    while (true) {
        const ssize_t count = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return StatusFromErrno(errno);
        if (count == 0) return ERROR_SUCCESS;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > kMaxSettingsFileBytes) {
            text.clear();
            return ERROR_BADDB;
        }
    }
}

// Like mkdir -p for the folder that holds `path`; a folder that exists already is fine.
LONG CreateParentFolders(const std::string& path) {
    const std::size_t last = path.rfind('/');
    if (last == std::string::npos || last == 0) return ERROR_SUCCESS;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos && slash <= last;
         slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return StatusFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

UniqueFd OpenRetrying(const std::string& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

bool Lock(const UniqueFd& lock, int operation) {
    int result;
    do {
        result = ::flock(lock.get(), operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

}  // namespace

LONG ReadSettingsText(const std::string& path, std::string& text) {
    text.clear();
    // A folder we may not write to has no lock file of ours, and then no writer of ours
    // either: reading unlocked is safe there.
    const std::string lockPath = path + ".lock";
    UniqueFd lock = OpenRetrying(lockPath, O_RDWR | O_CREAT);
    if (!lock.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return ERROR_FILE_NOT_FOUND;  // no folder
        lock = OpenRetrying(lockPath, O_RDONLY);
    }
    if (lock.valid() && !Lock(lock, LOCK_SH)) return StatusFromErrno(errno);
    UniqueFd file = OpenRetrying(path, O_RDONLY);
    if (!file.valid()) return StatusFromErrno(errno);
    return ReadAll(file.get(), text);
}

LONG UpdateSettingsFile(const std::string& path, const std::function<void(std::string&)>& update) {
    const std::string lockPath = path + ".lock";
    UniqueFd lock = OpenRetrying(lockPath, O_RDWR | O_CREAT);
    if (!lock.valid() && errno == ENOENT) {  // the first write to this key
        if (LONG status = CreateParentFolders(path); status != ERROR_SUCCESS) return status;
        lock = OpenRetrying(lockPath, O_RDWR | O_CREAT);
    }
    if (!lock.valid() || !Lock(lock, LOCK_EX)) return StatusFromErrno(errno);
    UniqueFd file = OpenRetrying(path, O_RDWR | O_CREAT);
    if (!file.valid()) return StatusFromErrno(errno);
    std::string text;
    // A file that cannot be read is left alone rather than overwritten.
    if (LONG status = ReadAll(file.get(), text); status != ERROR_SUCCESS) return status;
    std::string updated = text;
    update(updated);
    if (updated == text) return ERROR_SUCCESS;
    if (LONG status = Rewrite(file.get(), updated, text); status != ERROR_SUCCESS) return status;
    return file.Close() ? static_cast<LONG>(ERROR_SUCCESS) : StatusFromErrno(errno);
}

}  // namespace platform::posix
