// Cancelling every family from another thread (streaming, idle, handle ended): the result, no
// partial file left, and what the next transfer on the handle does.
#include "api_support.h"

// Downloads name a bare "t.bin": it lands in the working folder, which each case moves.
struct WorkingFolder {
    explicit WorkingFolder(const std::string& folder) { fs::current_path(folder); }
    ~WorkingFolder() { fs::current_path(before); }
    const fs::path before = fs::current_path();
};

TEST(CancelTransfers, EveryFamilyFromAnotherThread) {
    TempDir sources;
    const std::string source = sources.File("up.bin");
    WriteFileBytes(source, "content");
    ScriptedServer ok(Answer(HttpResponse(200, "OK")));
    const Call families[] = {Get2, Get3, Post3, Url, UrlW, Named, Kiv, KivW, Up, KivUp};
    for (Call call : families) {
        // Uploads wait for their reply, which the server holds back; the rest read a body that
        // would take minutes. A cancelled in-memory call gives -1 or what it had read.
        const bool upload = call == Up || call == KivUp, inMemory = InMemory(call);
        const int32_t size = inMemory ? static_cast<int32_t>(StreamingServer::kLength) : 16;
        for (const std::string mode :
             {"cancel while streaming", "cancel idle", "end while streaming"}) {
            SCOPED_TRACE(Name(call) + " / " + mode);
            TransferHandle handle = ZEMTransferBegin();
            TempDir folder;
            const WorkingFolder inFolder(folder.path());
            const std::string local = upload ? source : "t.bin";
            if (mode == "cancel idle") {
                CancelTransferFile(handle);
                CancelTransferFile(handle);
            } else {
                StreamingServer server(upload);
                Outcome out;
                std::thread transfer(
                    [&] { out = Perform(call, handle, server.url().c_str(), size, local); });
                EXPECT_TRUE(server.AwaitStarted(1));
                // A download stores into a new hidden file beside its target until the body
                // is whole.
                EXPECT_TRUE(upload || inMemory ||
                            (AwaitFileIn(folder.path()) &&
                             FilesBelow(folder.path()).begin()->rfind(".t.bin.", 0) == 0));
                if (mode == "end while streaming") {
                    ZEMTransferEnd(handle);
                } else {
                    CancelTransferFile(handle);
                }
                transfer.join();
                if (inMemory && out.result != -1) {
                    EXPECT_GE(out.result, static_cast<int32_t>(StreamingServer::kFirst));
                    EXPECT_LT(out.result, static_cast<int32_t>(StreamingServer::kLength));
                    const std::size_t got = static_cast<std::size_t>(out.result);
                    EXPECT_EQ(out.buffer.substr(0, got), server.body().substr(0, got));
                } else {
                    EXPECT_EQ(out.result, inMemory ? -1 : 0);
                }
                EXPECT_TRUE(fs::is_empty(folder.path()));
            }
            const int32_t next = Perform(call, handle, ok.url().c_str(), size, local).result;
            if (mode == "end while streaming") {
                EXPECT_EQ(next, inMemory ? -1 : 0) << "an ended handle serves nothing";
            } else {
                EXPECT_EQ(next, inMemory ? 2 : 1);
                ZEMTransferEnd(handle);
            }
        }
    }
    EXPECT_EQ(ok.connectionCount(), 10 * 2);
}
