// The upload form that the library sends (file_num = 1, file1 = the file), built the way the
// library builds it: the whole file read into one heap block together with its framing.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace bench {

// The boundary parameter of the Content-Type; delimiter lines carry two more dashes.
inline constexpr const char kFormBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";

class MultipartBlock {
  public:
    // Reads the file; empty() tells whether that failed.
    explicit MultipartBlock(const std::string& filePath);

    bool empty() const { return size_ == 0; }
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    static std::string ContentType();

  private:
    struct FreeDeleter {
        void operator()(char* block) const;
    };
    std::unique_ptr<char, FreeDeleter> data_;
    std::size_t size_ = 0;
};

}  // namespace bench
