#include "multipart_block.h"

#include <cstdlib>
#include <cstring>

#include "file_io.h"

namespace bench {

MultipartBlock::MultipartBlock(const std::string& filePath) {
    const std::string delimiter = std::string("--") + kFormBoundary;
    const std::string head =
        delimiter + "\r\nContent-Disposition: form-data; name=\"file_num\"\r\n\r\n1\r\n" +
        delimiter + "\r\nContent-Disposition: form-data; name=\"file1\"; filename=\"" + filePath +
        "\"\r\n\r\n";
    const std::string tail = "\r\n" + delimiter + "--\r\n";

    ScopedFd file = OpenForReading(filePath);
    const std::int64_t fileSize = file.valid() ? FileSize(file) : -1;
    if (fileSize < 0) return;
    const std::size_t total = head.size() + static_cast<std::size_t>(fileSize) + tail.size();
    // Not zero-filled: every byte is written below, and the reference should not pay for more.
    data_.reset(static_cast<char*>(std::malloc(total)));
    if (!data_) return;
    std::memcpy(data_.get(), head.data(), head.size());
    if (!ReadExactly(file, data_.get() + head.size(), static_cast<std::size_t>(fileSize))) return;
    std::memcpy(data_.get() + head.size() + fileSize, tail.data(), tail.size());
    size_ = total;
}

void MultipartBlock::FreeDeleter::operator()(char* block) const {
    std::free(block);
}

std::string MultipartBlock::ContentType() {
    return std::string("multipart/form-data; boundary=") + kFormBoundary;
}

}  // namespace bench
