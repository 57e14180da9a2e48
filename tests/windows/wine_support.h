// What the tests under Wine add to the export tables' helpers: the file service and folders of
// run-wine-tests.sh (in the environment), and files by wide path.
#pragma once

#include <windows.h>

#include <map>
#include <stdexcept>

#include "api/api_support.h"

namespace wine_testing {

inline std::string Variable(const char* name) {
    if (const char* value = std::getenv(name)) return value;
    throw std::runtime_error(std::string(name) + " unset: use run-wine-tests.sh");
}
inline std::wstring Widen(const std::string& utf8) {
    return fs::u8path(utf8).wstring();
}
inline std::string Utf8(const std::wstring& wide) {
    return fs::path(wide).u8string();
}
// In the ANSI code page, as a narrow export takes a path.
inline std::string Ansi(const std::wstring& wide) {
    std::string text(wide.size() * 2, '\0');
    text.resize(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                    text.data(), static_cast<int>(text.size()), nullptr, nullptr));
    return text;
}

// Windows paths: the script's folders seen through drive Z:.
inline const std::string kFileService = Variable("ZEMUSER_WINE_FILE_SERVICE");
inline const std::wstring kFileRoot = Widen(Variable("ZEMUSER_WINE_FILE_ROOT"));
inline const std::wstring kWork = Widen(Variable("ZEMUSER_WINE_WORK"));

inline std::string ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(no file " + path.u8string() + ")";
    return std::string(std::istreambuf_iterator<char>(in), {});
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

inline std::string NewTag() {
    static std::atomic<int> counter{0};
    return "t" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

// A fresh folder under the work folder, its name ending in `suffix`, removed with its files.
struct ScratchFolder {
    explicit ScratchFolder(const std::wstring& suffix = L"")
        : path(kWork + L"\\" + Widen(NewTag()) + suffix) {
        EXPECT_TRUE(fs::create_directory(path)) << Utf8(path);
    }
    ~ScratchFolder() { fs::remove_all(path); }
    std::wstring File(const std::wstring& name) const { return path + L"\\" + name; }
    const std::wstring path;
};

}  // namespace wine_testing
