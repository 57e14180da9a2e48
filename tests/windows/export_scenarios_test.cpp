// The exports end to end through the real WinINet: what the host gets back, the request on the
// wire, the trace (WinINet's message texts in failure reports), a cancel from another thread.
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "wine_support.h"

namespace wine_testing {
namespace {

// What a call gave the host: its result, the status it reported and the bytes it received.
struct Outcome {
    Outcome(std::int32_t result = 0, std::int32_t status = 0, std::string received = "")
        : result(result), status(status), received(std::move(received)) {}
    std::int32_t result;
    std::int32_t status;
    std::string received;
};
using Call = std::function<Outcome(const std::string& url)>;

// The text of wininet.dll's message table for a code, without its line end.
std::string WinInetText(DWORD code) {
    char text[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, GetModuleHandleA("wininet.dll"), code, 0x400, text,
                   sizeof text, nullptr);
    return std::string(text, std::string(text).find_last_not_of("\r\n") + 1);
}

// ZEMUrlGet (or ZEMUrlGet2) into a buffer of `size` bytes plus the terminator; none for 0.
Call Get(std::int32_t size, decltype(&ZEMUrlGet) get = &ZEMUrlGet) {
    return [=](const std::string& url) {
        Outcome out;
        std::string buffer(size + 1, 'X');
        out.result = get(url.c_str(), &out.status, size ? buffer.data() : nullptr, size, nullptr);
        if (size) out.received = buffer.substr(0, std::max(out.result, 0) + 1);
        return out;
    };
}

Outcome Get3(const std::string& url) {
    Outcome out;
    char* text = nullptr;
    std::int32_t length = 0;
    out.result = ZEMUrlGet3(url.c_str(), &out.status, &text, &length, nullptr);
    if (text != nullptr) {
        out.received.assign(text, length + 1);
        ZEMReleaseBuffer(text);
    }
    return out;
}

Outcome Post(const std::string& url) {
    PostFields fields{{"b", "2"}, {"a", "1"}, {"note", "x y&z=1 \xC3\xA9"}};
    Outcome out;
    char buffer[64];
    out.result = ZEMUrlPost(url.c_str(), &fields, &out.status, buffer, 63, nullptr);
    out.received.assign(buffer, std::max(out.result, 0) + 1);
    return out;
}

// Into a folder, taking the name that the reply announces; received: that name, then the files.
Outcome NamedDownload(const std::string& url) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields{{"zeta", "26"}, {"alpha", "1"}};
    char name[16] = {};
    std::int32_t result = ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields,
                                                Ansi(folder.path).c_str(), name, sizeof name);
    return {result, 0, std::string(name) + "|" + FolderContents(folder.path)};
}

Call Upload(const std::wstring& local) {
    return [=](const std::string& url) {
        Handle handle = BeginHandle();
        PostFields fields{{"user", "7"}};
        return Outcome{
            ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, Ansi(local).c_str(), 7)};
    };
}

// Four threads fetch at once, three times each, each its own body; the result counts the right.
Outcome Threads(const std::string&) {
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&right, i] {
            const std::string body = "thread-" + std::to_string(i) + std::string(1500, 'a' + i);
            for (int round = 0; round < 3; ++round) {
                right += Get3(kHttp + "/x?body=" + body).received == body + '\0';
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    return {right.load()};
}

// Cancelled once the body flows (the unfinished file beside the target has bytes); received:
// the files then, and after a next download on the same handle.
Outcome CancelledDownload(const std::string& url) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields;
    const std::string target = Ansi(folder.File(L"slow.bin"));
    auto download = std::async(std::launch::async, [&] {
        return ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, target.c_str(), 0);
    });
    auto flowing = [](const fs::directory_entry& file) { return file.file_size() > 0; };
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::none_of(begin(fs::directory_iterator(folder.path)), fs::directory_iterator(),
                        flowing) &&
           std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CancelTransferFile(handle.get());
    if (download.wait_for(std::chrono::seconds(60)) != std::future_status::ready) return {-2};
    Outcome out{download.get(), 0, FolderContents(folder.path) + "|"};
    ZEMUrlTransferFile(handle.get(), (kHttp + "/x?body=after").c_str(), &fields, target.c_str(), 0);
    out.received += FolderContents(folder.path);
    return out;
}

struct Scenario {
    const char* name;
    std::string server;  // the answer server's base URL, or "" when the query is the whole URL
    std::string query;
    Call call;
    Outcome expected;
    std::vector<std::string> trace = {};  // lines among the trace
    const char* method = nullptr;         // checks the request on the wire when set
    std::vector<std::string> headers = {};
    std::string body = "";
};

TEST(WineExports, Scenarios) {
    ScratchFolder folder;
    const std::wstring local = folder.File(L"a.txt");
    WriteFileBytes(local, "abc");
    const std::string upload = Part("user", "7") + Part("file_num", "1") +
                               Part("file1", "abc", Ansi(local).c_str()) + kClosing;
    const std::string form =
        Part("a", "1") + Part("b", "2") + Part("note", "x y&z=1 \xC3\xA9") + kClosing;
    const std::string postAgent =
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)";
    // clang-format off
    const std::vector<Scenario> rows = {
        {"GET into a buffer", kHttp, "body=hello", Get(100), {5, 200, std::string("hello\0", 6)},
         {"ZEMUrlGet Result Code: 200"}, "GET",
         {"Accept: */*", "User-Agent: Mozilla/4.0 (compatible; )"}},
        {"GET without a buffer gives the length", kHttp, "size=5120", Get(0), {5120, 200}},
        {"error page with its status", kHttp, "status=404&body=gone", Get3,
         {4, 404, std::string("gone\0", 5)}},
        {"other schemes fail", "", "ftp://127.0.0.1/x", Get3, {-1, 0}},
        {"HTTPS, certificate of an unknown authority", kHttps, "body=secure", Get3,
         {6, 200, std::string("secure\0", 7)}},
        {"refused connection", "", "http://127.0.0.1:1/refused?x=1", Get(0), {-1, 0},
         {"[ http://127.0.0.1:1/refused?x=1 ] request failed...",
          "[12029, 0x00002efd] " + WinInetText(12029)}},
        {"no Content-Length", "", kHttp + "/x?size=700&length=none", Get(1000, &ZEMUrlGet2),
         {0, 200, std::string(1, '\0')}, {"[ " + kHttp + "/x?size=700&length=none ] query content-length failed..."}},
        {"form POST, multipart in name order", kHttp, "body=thanks", Post,
         {6, 200, std::string("thanks\0", 7)}, {"ZEMUrlPost Result: 6"}, "POST",
         {"Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY",
          postAgent, "Content-Length: " + std::to_string(form.size())}, form},
        {"download under the announced name", kHttp,
         "body=payload&disposition=attachment%3B%20filename%3D%22report.txt%22", NamedDownload,
         {1, 0, "report.txt|report.txt=payload;"}, {}, "POST", {postAgent},
         Part("alpha", "1") + Part("zeta", "26") + kClosing},
        {"upload answered OK", kHttp, "body=OK", Upload(local), {1},
         {"ZEMUrlUploadFile Result: OK"}, "POST", {}, upload},
        {"upload answered CR LF OK", kHttp, "body=%0D%0AOK", Upload(local), {1}},
        {"upload answered blank OK", kHttp, "body=%20OK", Upload(local), {0}},
        {"upload answered 500 OK", kHttp, "status=500&body=OK", Upload(local), {1}},
        {"threads each get their own body", kHttp, "", Threads, {12}},
        // 10 MB at about 50 kB/s: minutes if nothing stops it.
        {"cancel from another thread", kHttp, "size=10000000&trickle=20", CancelledDownload,
         {0, 0, "|slow.bin=after;"}, {"ZEMUrlDownloadFile Result: 0"}},
    };
    // clang-format on
    for (const Scenario& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string tag = NewTag();
        const std::string url =
            row.server.empty() ? row.query : row.server + "/rec/" + tag + "?" + row.query;
        TraceCapture trace;
        Outcome out = row.call(url);
        EXPECT_EQ(out.result, row.expected.result);
        EXPECT_EQ(out.status, row.expected.status);
        EXPECT_EQ(out.received, row.expected.received);
        for (const std::string& line : row.trace) EXPECT_TRUE(trace.Has(line)) << line;
        if (row.method == nullptr) continue;
        const std::string request = ReadRecord(tag);
        const std::string line = row.method + (" /rec/" + tag + "?") + row.query + " HTTP/1.0\r\n";
        EXPECT_EQ(request.rfind(line, 0), 0u) << request;
        for (const std::string& header : row.headers) {
            EXPECT_NE(request.find("\r\n" + header + "\r\n"), std::string::npos) << header;
        }
        EXPECT_EQ(BodyOf(request), row.body);
    }
}

}  // namespace
}  // namespace wine_testing
