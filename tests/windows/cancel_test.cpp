// A cancel from another thread through WinINet once the body flows (the unfinished file exists):
// 0, no file left, the handle serves the next. Under Wine a blocked read ends only when data
// arrives: the server trickles for minutes.
#include <future>

#include "api/api_support.h"

TEST(WineCancel, FromAnotherThreadWhileTheBodyFlows) {
    ScriptedServer server([](ScriptedConnection& connection) {
        const bool slow = connection.ReadRequest().find(" /slow ") != std::string::npos;
        connection.Trickle(HttpResponse(200, slow ? std::string(10000000, 's') : "after"), 1024,
                           std::chrono::milliseconds(20));
    });
    TempDir folder;
    OwnedHandle handle = BeginHandle();
    const std::string target = folder.File("got.bin");
    auto download = [&](const char* path) {
        return Perform(Url, handle.get(), server.url(path).c_str(), 0, target).result;
    };
    TraceFile trace;
    auto cancelled = std::async(std::launch::async, download, "/slow");
    ASSERT_TRUE(AwaitFileIn(folder.path()));
    CancelTransferFile(handle.get());
    ASSERT_EQ(cancelled.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(cancelled.get(), 0);
    EXPECT_TRUE(trace.Contains("ZEMUrlDownloadFile Result: 0\n")) << trace.Text();
    EXPECT_TRUE(fs::is_empty(folder.path()));
    EXPECT_EQ(download("/after"), 1);
    EXPECT_EQ(ReadFileBytes(target), "after");
}
