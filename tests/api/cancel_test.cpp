// Cancellation over every family of transfers: a cancel from another thread while the server
// streams, a cancel on an idle handle (forgotten by the next transfer), and the handle ended
// from another thread. Each checks the result, that no partial file is left, and what the next
// transfer on the handle does.
#include "api_support.h"

namespace {

using namespace api_testing;

struct CancelFamily {
    const char* name;
    // Runs the transfer on `handle` against `url`: downloads store into `folder`, uploads send
    // `source`; the in-memory calls give what they received.
    std::function<int32_t(TransferHandle handle, const std::string& url, const std::string& folder,
                          const std::string& source, std::string* received)>
        run;
    bool inMemory;   // a cancelled call gives -1 or what it had read; the others give 0
    bool holdReply;  // the server answers nothing: the call waits for its reply
    int32_t next;    // the result of the same transfer answered with "OK"
};

int32_t Handed(char* raw, int32_t result, int32_t length, std::string* received) {
    HandedBuffer handed(raw);
    if (raw != nullptr && length > 0)
        *received = std::string(raw, static_cast<std::size_t>(length));
    return result;
}

const CancelFamily kFamilies[] = {
    {"get3",
     [](TransferHandle h, const std::string& url, const std::string&, const std::string&,
        std::string* received) {
         int32_t status = 0, length = 0;
         char* raw = nullptr;
         const int32_t result = ZEMUrlGet3(url.c_str(), &status, &raw, &length, h);
         return Handed(raw, result, length, received);
     },
     true, false, 2},
    {"get2",
     [](TransferHandle h, const std::string& url, const std::string&, const std::string&,
        std::string* received) {
         std::string buffer(StreamingServer::kLength + 1, '\0');
         int32_t status = 0;
         const int32_t result = ZEMUrlGet2(url.c_str(), &status, &buffer[0],
                                           static_cast<int32_t>(StreamingServer::kLength), h);
         if (result > 0) *received = buffer.substr(0, static_cast<std::size_t>(result));
         return result;
     },
     true, false, 2},
    {"post3",
     [](TransferHandle h, const std::string& url, const std::string&, const std::string&,
        std::string* received) {
         int32_t status = 0, length = 0;
         char* raw = nullptr;
         const int32_t result = ZEMUrlPost3(url.c_str(), nullptr, &status, &raw, &length, h);
         return Handed(raw, result, length, received);
     },
     true, false, 2},
    {"url download",
     [](TransferHandle h, const std::string& url, const std::string& folder, const std::string&,
        std::string*) {
         return ZEMUrlTransferFile(h, url.c_str(), nullptr, (folder + "/t.bin").c_str(), 0);
     },
     false, false, 1},
    {"normal download",
     [](TransferHandle h, const std::string& url, const std::string& folder, const std::string&,
        std::string*) {
         char name[16];
         return ZEMNormalDownloadFile(h, url.c_str(), nullptr, folder.c_str(), name, 16);
     },
     false, false, 1},
    {"conference download",
     [](TransferHandle h, const std::string& url, const std::string& folder, const std::string&,
        std::string*) {
         return ZEMKIVTransferFile(h, url.c_str(), "s", "f", (folder + "/t.bin").c_str(), 0);
     },
     false, false, 1},
    {"wide conference download",
     [](TransferHandle h, const std::string& url, const std::string& folder, const std::string&,
        std::string*) {
         return ZEMKIVTransferFileW(h, url.c_str(), "s", u"f", Widen(folder + "/t.bin").c_str(), 0);
     },
     false, false, 1},
    {"url upload",
     [](TransferHandle h, const std::string& url, const std::string&, const std::string& source,
        std::string*) { return ZEMUrlTransferFile(h, url.c_str(), nullptr, source.c_str(), 1); },
     false, true, 1},
    {"conference upload",
     [](TransferHandle h, const std::string& url, const std::string&, const std::string& source,
        std::string*) {
         return ZEMKIVTransferFile(h, url.c_str(), "s", nullptr, source.c_str(), 1);
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
                    result = family.run(handle, server.url(), folder.path(), source, &received);
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
            const int32_t next = family.run(handle, ok.url(), folder.path(), source, &received);
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
