// The reference side of every comparison: plain libcurl doing the same work as the library,
// each transfer on a fresh easy handle with HTTP/1.0 unless a function says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

// GET into the caller's fixed buffer; the body length, or -1 on failure or overflow.
// A fresh easy handle per call, or with `keepConnection` one per thread for all calls (to one
// URL), which asks to keep its connection and reuses it.
std::int64_t CurlGetIntoBuffer(const std::string& url, char* buffer, std::size_t capacity,
                               bool keepConnection = false);
// GET into a block grown with realloc, freed before returning; the body length or -1.
std::int64_t CurlGetIntoReallocBlock(const std::string& url);
// GET into a growing std::string; the body length or -1.
std::int64_t CurlGetIntoString(const std::string& url);
// POST without a body whose answer is only counted: the network part of a download.
std::int64_t CurlPostCountingReply(const std::string& url);
// POST of a body held in one block with the given content type; the reply text, or "" on a
// transport failure.
std::string CurlPostBlock(const std::string& url, const char* body, std::size_t size,
                          const std::string& contentType);
// POST of the upload form (file_num = 1, file1 = the file) that libcurl streams from disk.
std::string CurlPostMimeFromDisk(const std::string& url, const std::string& filePath);

}  // namespace bench
