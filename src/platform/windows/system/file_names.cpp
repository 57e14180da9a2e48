// File name rules of Windows.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/system.h"

namespace {

bool EqualsIgnoringCase(const std::string& text, const char* word) {
    return text.size() == std::strlen(word) &&
           std::equal(text.begin(), text.end(), word, [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

// COM1-COM9 and LPT1-LPT9; the superscript digits 1 to 3 of the ANSI code page count too.
bool IsNumberedDevice(const std::string& stem) {
    if (stem.size() != 4) return false;
    std::string prefix = stem.substr(0, 3);
    if (!EqualsIgnoringCase(prefix, "COM") && !EqualsIgnoringCase(prefix, "LPT")) return false;
    auto digit = static_cast<unsigned char>(stem[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

// Windows maps these names to devices in every folder, whatever follows the first dot and
// whatever blanks stand before it.
bool IsReservedDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    stem.erase(stem.find_last_not_of(' ') + 1);
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (EqualsIgnoringCase(stem, device)) return true;
    }
    return IsNumberedDevice(stem);
}

}  // namespace

namespace zemuser::platform {

const char* PathSeparator() {
    return "\\";
}

const WideChar* WidePathSeparator() {
    return L"\\";
}

bool IsDroppedFileNameCharacter(char c) {
    // ':' would name another drive's folder or an alternate data stream; the rest are
    // characters Windows refuses in a file name.
    return std::strchr(":<>\"|?*", c) != nullptr && c != '\0';
}

bool IsUnusableFileName(const std::string& name) {
    if (name.empty()) return false;
    if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos) return true;
    // Windows strips a trailing dot or blank when it opens a file, so such a name would not be
    // the one announced ("..." would even name the folder itself).
    if (name.back() == '.' || name.back() == ' ') return true;
    return IsReservedDeviceName(name);
}

}  // namespace zemuser::platform
