// File handles over POSIX descriptors. A handle is the address of an owned descriptor object
// that is looked up in a table on every call, so a stale or foreign handle fails with
// ERROR_INVALID_HANDLE instead of touching memory that is not a file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "platform/posix/error_codes.h"
#include "platform/posix/handle_table.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/no_destructor.h"
#include "platform/posix/unique_fd.h"
#include "platform/posix/wide_path.h"

namespace {

using platform::posix::SetLastErrorFromErrno;
using platform::posix::UniqueFd;

struct OpenFile {
    UniqueFd fd;
};

platform::posix::HandleTable<OpenFile>& OpenFiles() {
    static platform::posix::NoDestructor<platform::posix::HandleTable<OpenFile>> table;
    return table.get();
}

int AccessFlags(DWORD access) {
    const bool read = (access & GENERIC_READ) != 0;
    const bool write = (access & GENERIC_WRITE) != 0;
    if (read && write) return O_RDWR;
    return write ? O_WRONLY : O_RDONLY;
}

UniqueFd OpenRetrying(const char* path, int flags) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return UniqueFd(fd);
}

// Opens for CREATE_ALWAYS and OPEN_ALWAYS, telling whether the file was already there (Windows
// reports that through ERROR_ALREADY_EXISTS on success).
UniqueFd OpenOrCreate(const char* path, int flags, bool& existed) {
    // A few rounds settle a race with another process creating or deleting the same name.
    for (int round = 0; round < 4; ++round) {
        UniqueFd created = OpenRetrying(path, flags | O_CREAT | O_EXCL);
        if (created.valid() || errno != EEXIST) {
            existed = false;
            return created;
        }
        UniqueFd opened = OpenRetrying(path, flags);
        if (opened.valid() || errno != ENOENT) {
            existed = true;
            return opened;
        }
    }
    existed = false;  // e.g. a dangling symbolic link, which O_CREAT follows
    return OpenRetrying(path, flags | O_CREAT);
}

HANDLE OpenFileHandle(const char* path, DWORD access, DWORD disposition) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // The handle's memory is taken before the file is touched, and an existing file is only
    // emptied once the handle exists: running out of memory leaves the disk as it was.
    std::shared_ptr<OpenFile> file;
    try {
        file = std::make_shared<OpenFile>();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    const int flags = AccessFlags(access);
    bool existed = false;
    bool emptyOnSuccess = false;
    UniqueFd fd;
    switch (disposition) {
        case CREATE_NEW:
            fd = OpenRetrying(path, flags | O_CREAT | O_EXCL);
            break;
        case CREATE_ALWAYS:
            // Emptied once the handle exists; a descriptor without write access cannot be, so
            // it is emptied on opening.
            emptyOnSuccess = (access & GENERIC_WRITE) != 0;
            fd = OpenOrCreate(path, emptyOnSuccess ? flags : flags | O_TRUNC, existed);
            break;
        case OPEN_EXISTING:
            fd = OpenRetrying(path, flags);
            break;
        case OPEN_ALWAYS:
            fd = OpenOrCreate(path, flags, existed);
            break;
        case TRUNCATE_EXISTING:
            if ((access & GENERIC_WRITE) == 0) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return INVALID_HANDLE_VALUE;
            }
            fd = OpenRetrying(path, flags);
            emptyOnSuccess = true;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    if (!fd.valid()) {
        SetLastErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    // A folder opens for reading here but never on Windows, whose answer is "access denied".
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(status.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const int descriptor = fd.get();
    file->fd = std::move(fd);
    HANDLE handle = INVALID_HANDLE_VALUE;
    try {
        handle = OpenFiles().Add(std::move(file));
    } catch (const std::bad_alloc&) {
        // A file this call created must not stay behind its failure.
        if (!existed && disposition != OPEN_EXISTING && disposition != TRUNCATE_EXISTING) {
            ::unlink(path);
        }
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    // A file this call created is empty already; emptying it again would make ext4 flush it
    // whole when it is closed.
    const bool mayHoldData = existed || disposition == TRUNCATE_EXISTING;
    if (emptyOnSuccess && mayHoldData && ::ftruncate(descriptor, 0) != 0) {
        const int error = errno;
        CloseHandle(handle);
        SetLastErrorFromErrno(error);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

// A descriptor from the table is valid, so EBADF can only mean the handle was opened without
// the access the call needs, which Windows calls "access denied".
void SetLastErrorFromTransfer(int error) {
    if (error == EBADF) {
        SetLastError(ERROR_ACCESS_DENIED);
    } else {
        SetLastErrorFromErrno(error);
    }
}

std::shared_ptr<OpenFile> FindFile(HANDLE file) {
    auto found = OpenFiles().Find(file);
    if (!found) SetLastError(ERROR_INVALID_HANDLE);
    return found;
}

}  // namespace

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD /*shareMode*/,
                   SECURITY_ATTRIBUTES* /*security*/, DWORD disposition, DWORD /*attributes*/,
                   HANDLE /*templateFile*/) {
    return OpenFileHandle(path, access, disposition);
}

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD /*shareMode*/,
                   SECURITY_ATTRIBUTES* /*security*/, DWORD disposition, DWORD /*attributes*/,
                   HANDLE /*templateFile*/) {
    std::string narrowPath;
    if (!platform::posix::WidePathToUtf8(path, narrowPath)) return INVALID_HANDLE_VALUE;
    return OpenFileHandle(narrowPath.c_str(), access, disposition);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, OVERLAPPED* overlapped) {
    if (read != nullptr) *read = 0;
    auto open = FindFile(file);
    if (!open) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && toRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ssize_t count;
    do {
        count = ::read(open->fd.get(), buffer, toRead);
    } while (count < 0 && errno == EINTR);
    if (count < 0) {
        SetLastErrorFromTransfer(errno);
        return FALSE;
    }
    if (read != nullptr) *read = static_cast<DWORD>(count);
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               OVERLAPPED* overlapped) {
    if (written != nullptr) *written = 0;
    auto open = FindFile(file);
    if (!open) return FALSE;
    if (overlapped != nullptr || (buffer == nullptr && toWrite > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    int failure = 0;
    while (done < toWrite) {
        const ssize_t count = ::write(open->fd.get(), bytes + done, toWrite - done);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            failure = count < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<DWORD>(count);
    }
    // Like Windows, a failed write still tells how much of the data reached the file.
    if (written != nullptr) *written = done;
    if (failure != 0) {
        SetLastErrorFromTransfer(failure);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    auto open = FindFile(file);
    if (!open) return INVALID_FILE_SIZE;
    struct stat status {};
    if (::fstat(open->fd.get(), &status) != 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const auto low = static_cast<DWORD>(size & 0xFFFFFFFFu);
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
    // A size whose low part equals INVALID_FILE_SIZE is told apart by a clear last error.
    if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL CloseHandle(HANDLE handle) {
    if (!OpenFiles().Remove(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
