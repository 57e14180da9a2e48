// A cancel from another thread through WinINet. Under Wine a blocked read ends only when data
// arrives, so the server trickles a body that would take minutes.
#include <future>

#include "wine_support.h"

namespace wine_testing {
namespace {

// Cancelled once the body flows (the unfinished file beside the target exists), the download
// gives 0 and leaves no file; the handle serves the next one.
TEST(WineCancel, FromAnotherThreadWhileTheBodyFlows) {
    ScriptedServer server([](ScriptedConnection& connection) {
        if (connection.ReadRequest().find(" /after ") != std::string::npos) {
            connection.Send(HttpResponse(200, "after"));
        } else {
            connection.Trickle(HttpResponse(200, std::string(10000000, 's')), 1024,
                               std::chrono::milliseconds(20));
        }
    });
    TempDir folder;
    OwnedHandle handle = BeginHandle();
    const std::string target = folder.File("slow.bin");
    auto download = [&](const std::string& path) {
        return ZEMUrlTransferFile(handle.get(), server.url(path).c_str(), nullptr, target.c_str(),
                                  0);
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

}  // namespace
}  // namespace wine_testing
