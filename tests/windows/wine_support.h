// What the tests under Wine add to the export tables' helpers: paths in the ANSI code page and
// what a folder holds.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "api/api_support.h"

namespace wine_testing {

// In the ANSI code page, as a narrow export takes a path.
inline std::string Ansi(const std::wstring& wide) {
    std::string text(wide.size() * 2, '\0');
    text.resize(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                    text.data(), static_cast<int>(text.size()), nullptr, nullptr));
    return text;
}

// "name=content;" for each file of the folder, in name order, names in UTF-8.
inline std::string FolderContents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().u8string()] = ReadFileBytes(entry.path());
    }
    std::string contents;
    for (const auto& [name, bytes] : files) contents += name + "=" + bytes + ";";
    return contents;
}

}  // namespace wine_testing
