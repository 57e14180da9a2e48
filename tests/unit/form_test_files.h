// Helpers of the form tests: a private temporary folder, small file operations, and a
// multipart body built into a string (the heap block released again).
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "form/form_field_list.h"
#include "form/multipart_body.h"
#include "platform/platform.h"

namespace form_test {

inline const char kBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";

class TempFolder {
  public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zemuser-form-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = buffer.data();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void WriteFileBytes(const std::string& path, const std::string& bytes, bool append = false) {
    std::ofstream out(path, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The body as BuildMultipartBody gives it; `length` receives its result.
inline std::string MultipartBody(const FormFieldList& fields, std::uint32_t* length = nullptr,
                                 const char* boundary = kBoundary) {
    char* block = nullptr;
    const std::uint32_t built = BuildMultipartBody(fields, &block, boundary);
    if (length != nullptr) *length = built;
    if (block == nullptr) return "";
    std::string body(block, built);
    const bool terminated = block[built] == '\0';
    HeapFree(GetProcessHeap(), 0, block);
    if (!terminated) throw std::runtime_error("no zero byte after the body");
    return body;
}

}  // namespace form_test
