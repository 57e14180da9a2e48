#include "staged_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr mode_t kStoredFileMode = 0644;
constexpr char kStagedPrefix[] = ".upload-";

}  // namespace

StagedFile::StagedFile(const std::filesystem::path& folder) {
    std::string pattern = (folder / (std::string(kStagedPrefix) + "XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "mkostemp");
    path_ = std::string(name.data());
    // mkostemp makes the file private; a stored file is as readable as any other.
    fchmod(fd_, kStoredFileMode);
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(path_.c_str());
}

bool StagedFile::Write(const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t written = write(fd_, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool StagedFile::Commit(const std::filesystem::path& target) {
    if (fd_ < 0) return false;
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) return false;
    if (std::rename(path_.c_str(), target.c_str()) != 0) return false;
    committed_ = true;
    return true;
}

std::size_t RemoveLeftoverStagedFiles(const std::filesystem::path& folder) {
    std::size_t removed = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.rfind(kStagedPrefix, 0) == 0 && entry->is_regular_file(error) &&
            std::filesystem::remove(entry->path(), error)) {
            ++removed;
        }
    }
    return removed;
}
