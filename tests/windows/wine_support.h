// What the tests under Wine share: the loopback servers that run-wine-tests.sh started (passed
// in the environment), files by wide path, the library's trace read back, handles that end
// themselves, and the requests the answer server stored.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <zemuser.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace wine_testing {

inline std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        std::fprintf(stderr, "%s is unset: run the tests through run-wine-tests.sh\n", name);
        std::exit(2);
    }
    return value;
}

inline std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                    wide.data(), static_cast<int>(wide.size())));
    return wide;
}
inline std::string Narrow(const std::wstring& wide, UINT codePage) {
    std::string text(wide.size() * 4, '\0');
    text.resize(WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                    text.data(), static_cast<int>(text.size()), nullptr, nullptr));
    return text;
}
inline std::string Utf8(const std::wstring& wide) {
    return Narrow(wide, CP_UTF8);
}
inline std::string Ansi(const std::wstring& wide) {
    return Narrow(wide, CP_ACP);
}

// Servers and folders (Windows paths: the script's folders seen through drive Z:).
inline const std::string kHttp = Variable("ZEMUSER_WINE_HTTP");
inline const std::string kHttps = Variable("ZEMUSER_WINE_HTTPS");
inline const std::string kFileService = Variable("ZEMUSER_WINE_FILE_SERVICE");
inline const std::wstring kRecords = Widen(Variable("ZEMUSER_WINE_RECORDS"));
inline const std::wstring kFileRoot = Widen(Variable("ZEMUSER_WINE_FILE_ROOT"));
inline const std::wstring kWork = Widen(Variable("ZEMUSER_WINE_WORK"));

inline std::string ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(no file " + Utf8(path) + ")";
    std::string bytes;
    char piece[4096];
    DWORD count = 0;
    while (ReadFile(file, piece, sizeof piece, &count, nullptr) && count > 0) {
        bytes.append(piece, count);
    }
    CloseHandle(file);
    return bytes;
}

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Utf8(path);
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

// The names in a folder, "." and ".." left out, in order.
inline std::vector<std::wstring> FolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// "name=content;" for each file of the folder, names in UTF-8.
inline std::string FolderContents(const std::wstring& folder) {
    std::string contents;
    for (const std::wstring& name : FolderNames(folder)) {
        contents += Utf8(name) + "=" + ReadFileBytes(folder + L"\\" + name) + ";";
    }
    return contents;
}

inline std::string NewTag() {
    static std::atomic<int> counter{0};
    return "t" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

// A fresh folder under the work folder, its name ending in `suffix`, removed with its files.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::wstring& suffix = L"")
        : path_(kWork + L"\\" + Widen(NewTag()) + suffix) {
        EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << Utf8(path_);
    }
    ~ScratchFolder() {
        for (const std::wstring& name : FolderNames(path_)) DeleteFileW(File(name).c_str());
        RemoveDirectoryW(path_.c_str());
    }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }
    const std::wstring& path() const { return path_; }

  private:
    std::wstring path_;
};

// The library's trace in a file of its own, at level 0, while it lives.
class TraceCapture {
  public:
    TraceCapture() { ZEMUser_SetTraceFile(Ansi(folder_.File(L"trace.txt")).c_str()); }
    ~TraceCapture() { ZEMUser_SetTraceFile(nullptr); }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::istringstream text(ReadFileBytes(folder_.File(L"trace.txt")));
        for (std::string line; std::getline(text, line);) {
            line.erase(line.find_last_not_of("\r") + 1);  // text mode, and texts with a CR
            lines.push_back(line);
        }
        return lines;
    }

  private:
    ScratchFolder folder_;
};

struct HandleEnd {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using Handle = std::unique_ptr<void, HandleEnd>;
inline Handle BeginHandle() {
    return Handle(ZEMTransferBegin());
}

// The request the answer server stored under TAG: head (request line and headers, each line
// followed by CR LF) and body.
struct Recorded {
    std::string head, body;
};
inline Recorded ReadRecord(const std::string& tag) {
    std::string raw = ReadFileBytes(kRecords + L"\\" + Widen(tag) + L".request");
    std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return {raw, ""};
    return {raw.substr(0, end + 2), raw.substr(end + 4)};
}

// Polls for a signal (a file that exists, a request stored), up to 20 s.
template <typename Condition>
bool WaitFor(Condition condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// One part of the multipart body the library sends; a file part when fileName is given.
inline std::string Part(const std::string& name, const std::string& value,
                        const char* fileName = nullptr) {
    return "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\nContent-Disposition: form-data; name=\"" + name +
           "\"" + (fileName ? std::string("; filename=\"") + fileName + "\"" : "") + "\r\n\r\n" +
           value + "\r\n";
}
constexpr char kClosing[] = "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n";

}  // namespace wine_testing
