#include "library_calls.h"

namespace bench {

std::int64_t LibraryGet2(const std::string& url, char* buffer, std::int32_t size) {
    std::int32_t status = 0;
    const std::int32_t count = ZEMUrlGet2(url.c_str(), &status, buffer, size, nullptr);
    return status == 200 && count >= 0 ? count : -1;
}

std::int64_t LibraryGet3(const std::string& url) {
    std::int32_t status = 0;
    char* body = nullptr;
    std::int32_t length = 0;
    const std::int32_t result = ZEMUrlGet3(url.c_str(), &status, &body, &length, nullptr);
    ZEMReleaseBuffer(body);
    return status == 200 && result >= 0 ? length : -1;
}

bool LibraryTransferFile(const LibraryHandle& handle, const std::string& url,
                         const std::string& localPath, std::int32_t direction) {
    const PostFields noFields;
    return ZEMUrlTransferFile(handle.get(), url.c_str(), &noFields, localPath.c_str(), direction) ==
           1;
}

}  // namespace bench
