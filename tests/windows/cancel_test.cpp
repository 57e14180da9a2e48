// CancelTransferFile from another thread while the real WinINet streams a download.
#include <future>

#include "wine_support.h"

namespace wine_testing {
namespace {

TEST(WineCancel, StopsAStreamingDownloadLeavesNoFileAndTheHandleGoesOn) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields;
    const std::string target = Ansi(folder.File(L"slow.bin")), tag = NewTag();
    // 10 MB at about 50 kB/s: minutes if nothing stops it.
    const std::string url = kHttp + "/rec/" + tag + "?size=10000000&trickle=20";
    auto download = std::async(std::launch::async, [&] {
        return ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, target.c_str(), 0);
    });
    // The server stores the request once the body flows; the unfinished file then exists too.
    ASSERT_TRUE(WaitFor([&] {
        return ReadRecord(tag).head.rfind("POST", 0) == 0 && !FolderNames(folder.path()).empty();
    }));
    CancelTransferFile(handle.get());
    ASSERT_EQ(download.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(download.get(), 0);
    EXPECT_EQ(FolderContents(folder.path()), "");

    const std::string quick = kHttp + "/x?body=after";
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), quick.c_str(), &fields, target.c_str(), 0), 1);
    EXPECT_EQ(FolderContents(folder.path()), "slow.bin=after;");
}

}  // namespace
}  // namespace wine_testing
