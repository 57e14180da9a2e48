// The exports through the real WinINet: the request on the wire, HTTPS to an unknown
// authority, WinINet's message texts in the trace, a cancel from another thread.
#include <future>
#include <thread>

#include "wine_support.h"

namespace wine_testing {
namespace {

TEST(WineExports, GetsGoThroughWinInet) {
    // clang-format off
    const struct { const char* name; std::string url; std::int32_t result, status; const char* text;
                   std::vector<std::string> trace = {}; } rows[] = {
        {"GET", kHttp + "/rec/get?body=hello", 5, 200, "hello", {"ZEMUrlGet Result Code: 200"}},
        {"HTTPS, certificate of an unknown authority", kHttps + "/x?body=secure", 6, 200, "secure"},
        {"refused connection", "http://127.0.0.1:1/refused", -1, 0, "",
         {"[ http://127.0.0.1:1/refused ] request failed...",
          "[12029, 0x00002efd] The attempt to connect to the server failed."}},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TraceCapture trace;
        std::int32_t status = 0, length = 0;
        char* text = nullptr;
        EXPECT_EQ(ZEMUrlGet3(row.url.c_str(), &status, &text, &length, nullptr), row.result);
        EXPECT_EQ(status, row.status);
        EXPECT_EQ(text ? std::string(text, length) : "", row.text);
        ZEMReleaseBuffer(text);
        for (const std::string& line : row.trace) EXPECT_TRUE(trace.Has(line)) << line;
    }
    // The GET on the wire (the answer server stored it), among the headers Wine's WinINet adds.
    const std::string request = "\r\n" + ReadFileBytes(kWork + L"\\get.request");
    for (const char* line : {"GET /rec/get?body=hello HTTP/1.0", "Accept: */*",
                             "User-Agent: Mozilla/4.0 (compatible; )"}) {
        EXPECT_NE(request.find("\r\n" + std::string(line) + "\r\n"), std::string::npos) << line;
    }
}

// 10 MB at about 50 kB/s would take minutes: cancelled once the body flows (the unfinished file
// beside the target has bytes), the download gives 0 and leaves no file; the handle works on.
TEST(WineExports, CancelFromAnotherThread) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields;
    const std::string target = Ansi(folder.File(L"slow.bin"));
    auto download = [&](const std::string& query) {
        return ZEMUrlTransferFile(handle.get(), (kHttp + "/x?" + query).c_str(), &fields,
                                  target.c_str(), 0);
    };
    TraceCapture trace;
    auto cancelled = std::async(std::launch::async, download, "size=10000000&trickle=20");
    auto flowing = [](const fs::directory_entry& file) { return file.file_size() > 0; };
    for (int wait = 0; wait < 2000 && std::none_of(fs::directory_iterator(folder.path),
                                                   fs::directory_iterator(), flowing);
         ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    CancelTransferFile(handle.get());
    ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(cancelled.get(), 0);
    EXPECT_TRUE(trace.Has("ZEMUrlDownloadFile Result: 0"));
    EXPECT_EQ(FolderContents(folder.path), "");
    EXPECT_EQ(download("body=after"), 1);
    EXPECT_EQ(FolderContents(folder.path), "slow.bin=after;");
}

}  // namespace
}  // namespace wine_testing
