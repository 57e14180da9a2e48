// Cancellation over every family of transfers: a cancel from another thread while the server
// streams, a cancel on an idle handle (forgotten by the next transfer), and the handle ended
// from another thread. Each checks the result, that no partial file is left, and what the next
// transfer on the handle does.
#include <algorithm>

#include "api_support.h"

namespace {

using namespace api_testing;

using Run = int32_t (*)(TransferHandle, const char* url, const std::string& folder,
                        const std::string& source, std::string* received);

struct CancelFamily {
    const char* name;
    // Downloads store into `folder`, uploads send `source`, in-memory calls give what arrived.
    Run run;
    bool inMemory;   // a cancelled call gives -1 or what it had read; the others give 0
    bool holdReply;  // the server answers nothing: the call waits for its reply
    int32_t next;    // the result of the same transfer answered with "OK"
};

// ZEMUrlGet3 or ZEMUrlPost3, with what it handed out.
int32_t Handed(bool post, TransferHandle h, const char* url, std::string* received) {
    int32_t status = 0, length = 0;
    char* raw = nullptr;
    const int32_t result = post ? ZEMUrlPost3(url, nullptr, &status, &raw, &length, h)
                                : ZEMUrlGet3(url, &status, &raw, &length, h);
    HandedBuffer handed(raw);
    if (raw != nullptr && length > 0) received->assign(raw, static_cast<std::size_t>(length));
    return result;
}

const CancelFamily kFamilies[] = {
    {"get3",
     [](TransferHandle h, const char* url, auto&, auto&, std::string* received) {
         return Handed(false, h, url, received);
     },
     true, false, 2},
    {"post3",
     [](TransferHandle h, const char* url, auto&, auto&, std::string* received) {
         return Handed(true, h, url, received);
     },
     true, false, 2},
    {"get2",
     [](TransferHandle h, const char* url, auto&, auto&, std::string* received) {
         received->assign(StreamingServer::kLength + 1, '\0');
         int32_t status = 0;
         const int32_t result = ZEMUrlGet2(url, &status, &(*received)[0],
                                           static_cast<int32_t>(StreamingServer::kLength), h);
         received->resize(static_cast<std::size_t>(std::max(result, 0)));
         return result;
     },
     true, false, 2},
    {"url download",
     [](TransferHandle h, const char* url, auto& folder, auto&, std::string*) {
         return ZEMUrlTransferFile(h, url, nullptr, (folder + "/t.bin").c_str(), 0);
     },
     false, false, 1},
    {"normal download",
     [](TransferHandle h, const char* url, auto& folder, auto&, std::string*) {
         char name[16];
         return ZEMNormalDownloadFile(h, url, nullptr, folder.c_str(), name, 16);
     },
     false, false, 1},
    {"conference download",
     [](TransferHandle h, const char* url, auto& folder, auto&, std::string*) {
         return ZEMKIVTransferFile(h, url, "s", "f", (folder + "/t.bin").c_str(), 0);
     },
     false, false, 1},
    {"wide conference download",
     [](TransferHandle h, const char* url, auto& folder, auto&, std::string*) {
         return ZEMKIVTransferFileW(h, url, "s", u"f", Widen(folder + "/t.bin").c_str(), 0);
     },
     false, false, 1},
    {"url upload",
     [](TransferHandle h, const char* url, auto&, auto& source, std::string*) {
         return ZEMUrlTransferFile(h, url, nullptr, source.c_str(), 1);
     },
     false, true, 1},
    {"conference upload",
     [](TransferHandle h, const char* url, auto&, auto& source, std::string*) {
         return ZEMKIVTransferFile(h, url, "s", nullptr, source.c_str(), 1);
     },
     false, true, 1},
};

enum class Mode { CancelWhileStreaming, CancelWhileIdle, EndWhileStreaming };

TEST(CancelTransfers, EveryFamilyFromAnotherThread) {
    TempDir sources;
    const std::string source = sources.File("up.bin");
    WriteFileBytes(source, "content");
    ScriptedServer ok(Answer(HttpResponse(200, "OK")));
    for (const CancelFamily& family : kFamilies) {
        for (Mode mode :
             {Mode::CancelWhileStreaming, Mode::CancelWhileIdle, Mode::EndWhileStreaming}) {
            SCOPED_TRACE(std::string(family.name) + " / mode " +
                         std::to_string(static_cast<int>(mode)));
            TransferHandle handle = ZEMTransferBegin();
            TempDir folder;
            if (mode == Mode::CancelWhileIdle) {
                CancelTransferFile(handle);
                CancelTransferFile(handle);
            } else {
                StreamingServer server(family.holdReply);
                int32_t result = -2;
                std::string received;
                std::thread transfer([&] {
                    result =
                        family.run(handle, server.url().c_str(), folder.path(), source, &received);
                });
                EXPECT_TRUE(server.AwaitStarted(1));
                // A download stores into a new file beside its target until the body is whole.
                const bool storing = !family.inMemory && !family.holdReply;
                EXPECT_TRUE(!storing || AwaitFileIn(folder.path()));
                if (mode == Mode::EndWhileStreaming) {
                    ZEMTransferEnd(handle);
                } else {
                    CancelTransferFile(handle);
                }
                transfer.join();
                if (family.inMemory && result != -1) {
                    EXPECT_GE(result, static_cast<int32_t>(StreamingServer::kFirst));
                    EXPECT_LT(result, static_cast<int32_t>(StreamingServer::kLength));
                    EXPECT_EQ(received, server.body().substr(0, received.size()));
                    EXPECT_EQ(received.size(), static_cast<std::size_t>(result));
                } else {
                    EXPECT_EQ(result, family.inMemory ? -1 : 0);
                }
                EXPECT_TRUE(fs::is_empty(folder.path()));
            }
            std::string received;
            const int32_t next =
                family.run(handle, ok.url().c_str(), folder.path(), source, &received);
            if (mode == Mode::EndWhileStreaming) {
                EXPECT_EQ(next, family.inMemory ? -1 : 0) << "an ended handle serves nothing";
            } else {
                EXPECT_EQ(next, family.next);
                ZEMTransferEnd(handle);
            }
        }
    }
    EXPECT_EQ(ok.connectionCount(), 9 * 2);
}

}  // namespace
