// What the tests under Wine add to the export tables' helpers: paths in the ANSI code page,
// folders with wide names, and what they hold.
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

// A fresh folder named `name`, removed with its files.
struct ScratchFolder {
    explicit ScratchFolder(const std::wstring& name = L"scratch")
        : path(Widen(base.path()) + L"\\" + name) {
        EXPECT_TRUE(fs::create_directory(path));
    }
    std::wstring File(const std::wstring& name) const { return path + L"\\" + name; }
    const TempDir base;
    const std::wstring path;
};

}  // namespace wine_testing
