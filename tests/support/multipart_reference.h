// The multipart body a server must receive from the library, written out by hand.
#pragma once

#include <string>

namespace testing_support {

constexpr const char kDelimiter[] = "----MULTI-PARTS-FORM-DATA-BOUNDARY";

inline std::string TextPart(const std::string& name, const std::string& value) {
    return std::string(kDelimiter) + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}
// `content` null: the file could not be read, and the part is its header alone.
inline std::string FilePart(const std::string& name, const std::string& fileName,
                            const std::string* content) {
    std::string part = std::string(kDelimiter) + "\r\nContent-Disposition: form-data; name=\"" +
                       name + "\"; filename=\"" + fileName + "\"\r\n\r\n";
    if (content != nullptr) part += *content + "\r\n";
    return part;
}
inline std::string ClosingDelimiter() {
    return std::string(kDelimiter) + "--\r\n";
}

}  // namespace testing_support
