#include "wine_test_support.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace wine_testing {
namespace {

std::string RequiredVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        std::fprintf(stderr, "%s is not set; run the tests through run-wine-tests.sh\n", name);
        std::exit(2);
    }
    return value;
}

std::wstring Convert(UINT codePage, const std::string& text) {
    if (text.empty()) return {};
    int size =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string Convert(UINT codePage, const std::wstring& wide) {
    if (wide.empty()) return {};
    int size = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                        nullptr, nullptr);
    return text;
}

struct FileHandleClose {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileHandle = std::unique_ptr<void, FileHandleClose>;

FileHandle OpenFile(const std::wstring& path, DWORD access, DWORD disposition) {
    HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return FileHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

void RemoveTree(const std::wstring& path) {
    for (const std::wstring& name : FolderEntries(path)) {
        std::wstring child = path + L"\\" + name;
        if (FolderExists(child)) {
            RemoveTree(child);
        } else {
            DeleteFileW(child.c_str());
        }
    }
    RemoveDirectoryW(path.c_str());
}

bool HeaderNameIs(const std::string& header, const std::string& name) {
    return header.size() > name.size() && header[name.size()] == ':' &&
           _strnicmp(header.c_str(), name.c_str(), name.size()) == 0;
}

std::wstring RecordPath(const std::string& tag) {
    return TheSetup().records + L"\\" + Widen(tag) + L".request";
}

}  // namespace

const Setup& TheSetup() {
    static const Setup setup = [] {
        Setup s;
        s.nginx = RequiredVariable("ZEMUSER_WINE_NGINX");
        s.nginxTls = RequiredVariable("ZEMUSER_WINE_NGINX_TLS");
        s.recorder = RequiredVariable("ZEMUSER_WINE_RECORDER");
        s.fileService = RequiredVariable("ZEMUSER_WINE_FILE_SERVICE");
        s.records = Widen(RequiredVariable("ZEMUSER_WINE_RECORDS"));
        s.fileRoot = Widen(RequiredVariable("ZEMUSER_WINE_FILE_ROOT"));
        s.nginxRoot = Widen(RequiredVariable("ZEMUSER_WINE_NGINX_ROOT"));
        s.work = Widen(RequiredVariable("ZEMUSER_WINE_WORK"));
        return s;
    }();
    return setup;
}

std::wstring Widen(const std::string& utf8) {
    return Convert(CP_UTF8, utf8);
}

std::string Utf8(const std::wstring& wide) {
    return Convert(CP_UTF8, wide);
}

std::string Ansi(const std::wstring& wide) {
    return Convert(CP_ACP, wide);
}

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderHasEntries(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    do {
        const std::wstring name = entry.cFileName;
        found = name != L"." && name != L"..";
    } while (!found && FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

bool FolderExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ReadFileBytes(const std::wstring& path) {
    FileHandle file = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    if (!file) {
        ADD_FAILURE() << "cannot open " << Utf8(path);
        return {};
    }
    std::string bytes;
    char piece[4096];
    DWORD count = 0;
    while (ReadFile(file.get(), piece, sizeof piece, &count, nullptr) && count > 0) {
        bytes.append(piece, count);
    }
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FileHandle file = OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_TRUE(file) << "cannot create " << Utf8(path);
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
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

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = TheSetup().work + L"\\scratch-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    if (!CreateDirectoryW(path_.c_str(), nullptr)) {
        ADD_FAILURE() << "cannot create " << Utf8(path_);
    }
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

TraceCapture::TraceCapture(std::int32_t level) : path_(folder_.File(L"trace.txt")) {
    ZEMUser_SetTraceLevel(level);
    ZEMUser_SetTraceFile(Ansi(path_).c_str());
}

TraceCapture::~TraceCapture() {
    ZEMUser_SetTraceFile(nullptr);
    ZEMUser_SetTraceLevel(0);
}

std::vector<std::string> TraceCapture::Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(ReadFileBytes(path_));
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool TraceCapture::Contains(const std::string& line) const {
    std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string RecordedRequest::Header(const std::string& name) const {
    for (const std::string& header : headers) {
        if (!HeaderNameIs(header, name)) continue;
        std::size_t start = header.find_first_not_of(' ', name.size() + 1);
        return start == std::string::npos ? std::string() : header.substr(start);
    }
    return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const std::string& header) { return HeaderNameIs(header, name); });
}

std::string Pattern(std::size_t size, char first) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>('!' + (static_cast<std::size_t>(first) + i * 7) % 90);
    }
    return bytes;
}

std::string NginxFile(const std::string& name, const std::string& content) {
    WriteFileBytes(TheSetup().nginxRoot + L"\\" + Widen(name), content);
    return TheSetup().nginx + "/" + name;
}

std::string NewTag(const std::string& stem) {
    static std::atomic<int> counter{0};
    return stem + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

std::string RecorderUrl(const std::string& tag, const std::string& query) {
    return TheSetup().recorder + "/rec/" + tag + (query.empty() ? "" : "?" + query);
}

bool HasRecord(const std::string& tag) {
    return FileExists(RecordPath(tag));
}

RecordedRequest ReadRecord(const std::string& tag) {
    RecordedRequest request;
    if (!HasRecord(tag)) {
        ADD_FAILURE() << "the recorder stored no request " << tag;
        return request;
    }
    std::string raw = ReadFileBytes(RecordPath(tag));
    std::size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        ADD_FAILURE() << "malformed record " << tag;
        return request;
    }
    request.body = raw.substr(headEnd + 4);
    std::istringstream head(raw.substr(0, headEnd + 2));
    std::string line;
    std::getline(head, line);
    request.requestLine = line.substr(0, line.size() - 1);
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) request.headers.push_back(line);
    }
    return request;
}

std::string TextPart(const std::string& name, const std::string& value) {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}

std::string FilePart(const std::string& name, const std::string& fileName,
                     const std::string& content) {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + fileName + "\"\r\n\r\n" + content + "\r\n";
}

std::string ClosingDelimiter() {
    return std::string("--") + kBoundary + "--\r\n";
}

std::string QueryText(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0xF];
        }
    }
    return encoded;
}

}  // namespace wine_testing
