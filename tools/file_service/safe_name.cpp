#include "safe_name.h"

namespace {

constexpr std::size_t kLongestName = 255;  // what Linux file systems allow for one name

bool IsForbiddenCharacter(unsigned char c) {
    return c < 0x20 || c == 0x7F || c == '/' || c == '\\';
}

}  // namespace

bool IsSafeName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kLongestName) return false;
    for (unsigned char c : name) {
        if (IsForbiddenCharacter(c)) return false;
    }
    return true;
}

std::string BaseName(const std::string& path) {
    std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}
