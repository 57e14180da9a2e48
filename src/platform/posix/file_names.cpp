// The file calls that work on names rather than on open handles.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/error_codes.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/wide_path.h"

namespace {

using platform::posix::SetLastErrorFromErrno;

DWORD AttributesOf(const char* path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat status {};
    if (::stat(path, &status) != 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(status.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    // The read-only attribute is a property of the file: nobody may write it.
    if ((status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY;
    return FILE_ATTRIBUTE_NORMAL;
}

BOOL Delete(const char* path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // unlink() refuses a folder with EISDIR, which maps to Windows' "access denied".
    if (::unlink(path) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

DWORD GetFileAttributesA(LPCSTR path) {
    return AttributesOf(path);
}

DWORD GetFileAttributesW(LPCWSTR path) {
    std::string narrowPath;
    if (!platform::posix::WidePathToUtf8(path, narrowPath)) return INVALID_FILE_ATTRIBUTES;
    return AttributesOf(narrowPath.c_str());
}

BOOL DeleteFileA(LPCSTR path) {
    return Delete(path);
}

BOOL DeleteFileW(LPCWSTR path) {
    std::string narrowPath;
    if (!platform::posix::WidePathToUtf8(path, narrowPath)) return FALSE;
    return Delete(narrowPath.c_str());
}
