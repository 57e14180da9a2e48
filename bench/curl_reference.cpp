#include "curl_reference.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace bench {
namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FreeDeleter {
    void operator()(char* block) const { std::free(block); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

Easy NewEasy(const std::string& url) {
    Easy easy(curl_easy_init());
    if (!easy) return easy;
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_NOPROXY, "*");
    return easy;
}

// A transfer counts only when it completed with status 200.
bool Perform(CURL* easy) {
    if (curl_easy_perform(easy) != CURLE_OK) return false;
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status == 200;
}

struct FixedBuffer {
    char* data;
    std::size_t capacity;
    std::size_t size = 0;
};

size_t ToFixedBuffer(char* data, size_t, size_t count, void* target) {
    auto* buffer = static_cast<FixedBuffer*>(target);
    if (count > buffer->capacity - buffer->size) return 0;  // aborts the transfer
    std::memcpy(buffer->data + buffer->size, data, count);
    buffer->size += count;
    return count;
}

struct ReallocBlock {
    std::unique_ptr<char, FreeDeleter> data;
    std::size_t size = 0;
    std::size_t capacity = 0;
};

// Grows by doubling: growing by each piece alone would copy the body over and over once the
// allocator no longer extends the block in place, and measure the allocator, not the transfer.
size_t ToReallocBlock(char* data, size_t, size_t count, void* target) {
    auto* block = static_cast<ReallocBlock*>(target);
    if (block->size + count + 1 > block->capacity) {
        std::size_t capacity = block->capacity == 0 ? 16384 : block->capacity;
        while (capacity < block->size + count + 1) capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(block->data.get(), capacity));
        if (grown == nullptr) return 0;
        static_cast<void>(block->data.release());
        block->data.reset(grown);
        block->capacity = capacity;
    }
    std::memcpy(block->data.get() + block->size, data, count);
    block->size += count;
    block->data.get()[block->size] = '\0';
    return count;
}

size_t ToString(char* data, size_t, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, count);
    return count;
}

size_t Counting(char*, size_t, size_t count, void* target) {
    *static_cast<std::uint64_t*>(target) += count;
    return count;
}

std::string PerformForReply(CURL* easy) {
    std::string reply;
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ToString);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply);
    if (curl_easy_perform(easy) != CURLE_OK) return "";
    return reply;
}

}  // namespace

std::int64_t CurlGetIntoBuffer(const std::string& url, char* buffer, std::size_t capacity,
                               bool keepConnection) {
    // A kept handle keeps its connection; under HTTP/1.0 the server keeps it only when asked.
    thread_local Easy kept;
    thread_local const std::unique_ptr<curl_slist, ListDeleter> keepAlive(
        curl_slist_append(nullptr, "Connection: Keep-Alive"));
    Easy fresh = keepConnection ? nullptr : NewEasy(url);
    if (keepConnection && !kept) kept = NewEasy(url);
    CURL* const easy = keepConnection ? kept.get() : fresh.get();
    if (easy == nullptr) return -1;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, keepConnection ? keepAlive.get() : nullptr);
    FixedBuffer target{buffer, capacity};
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ToFixedBuffer);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &target);
    return Perform(easy) ? static_cast<std::int64_t>(target.size) : -1;
}

std::int64_t CurlGetIntoReallocBlock(const std::string& url) {
    Easy easy = NewEasy(url);
    if (!easy) return -1;
    ReallocBlock target;
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, ToReallocBlock);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &target);
    return Perform(easy.get()) ? static_cast<std::int64_t>(target.size) : -1;
}

std::int64_t CurlGetIntoString(const std::string& url) {
    Easy easy = NewEasy(url);
    if (!easy) return -1;
    std::string target;
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, ToString);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &target);
    return Perform(easy.get()) ? static_cast<std::int64_t>(target.size()) : -1;
}

std::int64_t CurlPostCountingReply(const std::string& url) {
    Easy easy = NewEasy(url);
    if (!easy) return -1;
    std::uint64_t received = 0;
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE, 0L);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, Counting);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &received);
    return Perform(easy.get()) ? static_cast<std::int64_t>(received) : -1;
}

std::string CurlPostBlock(const std::string& url, const char* body, std::size_t size,
                          const std::string& contentType) {
    Easy easy = NewEasy(url);
    if (!easy) return "";
    const std::string header = "Content-Type: " + contentType;
    std::unique_ptr<curl_slist, ListDeleter> headers(curl_slist_append(nullptr, header.c_str()));
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, body);
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(size));
    return PerformForReply(easy.get());
}

std::string CurlPostMimeFromDisk(const std::string& url, const std::string& filePath) {
    Easy easy = NewEasy(url);
    if (!easy) return "";
    std::unique_ptr<curl_mime, MimeDeleter> mime(curl_mime_init(easy.get()));
    curl_mimepart* count = curl_mime_addpart(mime.get());
    curl_mime_name(count, "file_num");
    curl_mime_data(count, "1", CURL_ZERO_TERMINATED);
    curl_mimepart* file = curl_mime_addpart(mime.get());
    curl_mime_name(file, "file1");
    if (curl_mime_filedata(file, filePath.c_str()) != CURLE_OK) return "";
    curl_easy_setopt(easy.get(), CURLOPT_MIMEPOST, mime.get());
    return PerformForReply(easy.get());
}

}  // namespace bench
