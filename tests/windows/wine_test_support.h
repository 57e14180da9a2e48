// What the tests under Wine share: where the loopback servers listen (the driver script passes
// it in the environment), scratch folders and files by wide path, the library's trace read back
// from a file, handles and buffers that release themselves, the requests the recording server
// stored, and the multipart body a request should carry, built independently of the library.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <zemuser.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wine_testing {

// The servers and folders of this run. Folders are Windows paths (the driver script's folders
// seen through Wine's drive Z:).
struct Setup {
    std::string nginx;        // http://127.0.0.1:PORT, static files
    std::string nginxTls;     // https://127.0.0.1:PORT, the same files behind a self-signed cert
    std::string recorder;     // http://127.0.0.1:PORT, records requests, answers as asked
    std::string fileService;  // http://127.0.0.1:PORT, the conference server's file service
    std::wstring records;     // where the recorder stores requests
    std::wstring fileRoot;    // the file service's root folder
    std::wstring nginxRoot;   // nginx's document root
    std::wstring work;        // scratch space for the tests
};

// Reads the environment once; aborts the run when the driver script did not set it up.
const Setup& TheSetup();

// Wide and narrow (ANSI code page) conversions of the test program itself.
std::wstring Widen(const std::string& utf8);
std::string Utf8(const std::wstring& wide);
std::string Ansi(const std::wstring& wide);

bool FileExists(const std::wstring& path);
// Whether the folder holds any file or folder, hidden ones included.
bool FolderHasEntries(const std::wstring& folder);
bool FolderExists(const std::wstring& path);
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Names in a folder, "." and ".." left out.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

// A fresh, empty folder under the work folder, removed with its contents at the end.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

// The library's trace in a file of its own, at the given threshold, for one test.
class TraceCapture {
  public:
    explicit TraceCapture(std::int32_t level = 0);
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Every line written so far, without line ends.
    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;

  private:
    ScratchFolder folder_;
    std::wstring path_;
};

struct HandleEnd {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using Handle = std::unique_ptr<void, HandleEnd>;
inline Handle BeginHandle() {
    return Handle(ZEMTransferBegin());
}

struct BufferRelease {
    void operator()(char* buffer) const { ZEMReleaseBuffer(buffer); }
};
using HandedOutBuffer = std::unique_ptr<char, BufferRelease>;

// A request as the recording server stored it.
struct RecordedRequest {
    std::string requestLine;
    std::vector<std::string> headers;  // "Name: value", as received
    std::string body;

    // The value of the first header of that name (any case), or "" when there is none.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// `size` bytes of printable text that differs from one offset to the next.
std::string Pattern(std::size_t size, char first = 'a');
// Puts a file into nginx's document root; returns its http:// URL.
std::string NginxFile(const std::string& name, const std::string& content);

// A tag unique to this run, for the recorder's /rec/TAG paths.
std::string NewTag(const std::string& stem);
// http://recorder/rec/TAG?QUERY
std::string RecorderUrl(const std::string& tag, const std::string& query = "");
// The request stored under TAG; fails the test when there is none.
RecordedRequest ReadRecord(const std::string& tag);
// True when the recorder stored a request under TAG.
bool HasRecord(const std::string& tag);

// The multipart body the library sends, built here from the rules of the wire format.
constexpr char kBoundary[] = "--MULTI-PARTS-FORM-DATA-BOUNDARY";
std::string TextPart(const std::string& name, const std::string& value);
std::string FilePart(const std::string& name, const std::string& fileName,
                     const std::string& content);
std::string ClosingDelimiter();

// Percent-encodes a text for a query of the recorder's URLs.
std::string QueryText(const std::string& text);

}  // namespace wine_testing
