// A file being received: written under a temporary name and moved to its place only when it
// is complete, so that readers and concurrent uploads of the same name never see half a file.
#pragma once

#include <cstddef>
#include <filesystem>

class StagedFile {
  public:
    // Creates an empty temporary file in `folder`; throws std::system_error on failure.
    explicit StagedFile(const std::filesystem::path& folder);
    ~StagedFile();  // removes the temporary file unless it was committed
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    bool Write(const char* data, std::size_t length);
    // Moves the file to `target`, replacing what is there; false (the file stays staged, and
    // is removed with this object) on failure.
    bool Commit(const std::filesystem::path& target);

  private:
    int fd_ = -1;
    std::filesystem::path path_;
    bool committed_ = false;
};

// Removes the staged files that a killed run left in `folder`; gives how many there were.
std::size_t RemoveLeftoverStagedFiles(const std::filesystem::path& folder);
