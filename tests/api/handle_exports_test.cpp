// Transfer handles through the public header: their life, their reuse, the refusal of null and
// ended handles, proxy credentials, cancellation from another thread, and the user's HTTP/1.1
// settings held off while any handle or call is alive.
#include <chrono>
#include <filesystem>
#include <thread>

#include "export_test_helpers.h"

namespace {

using namespace export_testing;
using testing_support::AuthProxy;
using testing_support::FileExists;
using testing_support::NginxServer;
using testing_support::ScopedEnv;
using Clock = std::chrono::steady_clock;

// Set before main, so before the first session of the process.
[[maybe_unused]] const bool kSettingsKept = (KeepSettingsInBuildTree(), true);

// Ending or cancelling the null handle touches none of the live ones: each still carries a
// transfer afterwards.
TEST(TransferHandles, BeginGivesDistinctHandlesAndNullEndsNothing) {
    OwnedHandle first = BeginHandle();
    OwnedHandle second(ZEMTransferBeginV2("user", "password"));
    OwnedHandle third(ZEMTransferBeginV2(nullptr, nullptr));
    ASSERT_NE(first.get(), nullptr);
    ASSERT_NE(second.get(), nullptr);
    ASSERT_NE(third.get(), nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(second.get(), third.get());
    ZEMTransferEnd(nullptr);
    CancelTransferFile(nullptr);
    ScriptedServer server(Answer(HttpResponse(200, "alive")));
    for (const OwnedHandle* handle : {&first, &second, &third}) {
        int32_t status = 0;
        char buffer[8] = {};
        EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, buffer, 7, handle->get()), 5);
        EXPECT_STREQ(buffer, "alive");
    }
}

// Every call connects anew, so one handle carries any number of transfers, a failed one
// included, and each sends exactly its own request.
TEST(TransferHandles, OneHandleCarriesOneTransferAfterAnother) {
    ScriptedServer server([](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        connection.Send(HttpResponse(200, ParseRequest(request).requestLine));
    });
    OwnedHandle handle = BeginHandle();
    int32_t status = 0;
    char buffer[64] = {};
    EXPECT_EQ(ZEMUrlGet2(server.url("/one").c_str(), &status, buffer, 63, handle.get()), 17);
    EXPECT_STREQ(buffer, "GET /one HTTP/1.0");

    EXPECT_EQ(ZEMUrlGet(RefusedUrl().c_str(), &status, buffer, 63, handle.get()), -1);

    const PostFields fields{{"k", "v"}};
    int32_t length = 0;
    char* raw = nullptr;
    EXPECT_EQ(
        ZEMUrlPost3(server.url("/two").c_str(), &fields, &status, &raw, &length, handle.get()), 18);
    HandedBuffer handed(raw);
    EXPECT_STREQ(raw, "POST /two HTTP/1.0");

    EXPECT_EQ(ZEMUrlGet(server.url("/three").c_str(), &status, buffer, 63, handle.get()), 19);
    EXPECT_STREQ(buffer, "GET /three HTTP/1.0");
    EXPECT_EQ(server.connectionCount(), 3);
}

// A cancel that arrives while no transfer runs is not remembered.
TEST(TransferHandles, CancelOnAnIdleHandleLeavesTheNextTransferAlone) {
    ScriptedServer server(Answer(HttpResponse(200, "still works")));
    OwnedHandle handle = BeginHandle();
    CancelTransferFile(handle.get());
    CancelTransferFile(handle.get());
    int32_t status = 0;
    char buffer[32] = {};
    EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, buffer, 31, handle.get()), 11);
    EXPECT_EQ(status, 200);
    EXPECT_STREQ(buffer, "still works");
}

// A null handle serves the fetches and posts (a session of their own) but not the file
// transfers; an ended or unknown handle serves nothing. Nothing is sent for a refused handle,
// and ending or cancelling it again does no harm.
TEST(TransferHandles, NullAndEndedHandlesAreRefusedWithoutSending) {
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    TempDir folder;
    const std::string file = folder.File("f.bin");
    WriteFileBytes(file, "data");
    const std::u16string wideFile = Widen(file);
    const std::string url = server.url();
    const PostFields fields;

    TransferHandle ended = ZEMTransferBegin();
    ZEMTransferEnd(ended);
    ZEMTransferEnd(ended);
    CancelTransferFile(ended);
    const TransferHandle unknown = reinterpret_cast<TransferHandle>(std::uintptr_t{0x7778});

    for (TransferHandle handle : {ended, unknown}) {
        int32_t status = 77;
        char buffer[8] = {};
        EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, buffer, 7, handle), -1);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, buffer, 7, handle), -1);
        int32_t length = 55;
        char* raw = nullptr;
        EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, handle), -1);
        EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, buffer, 7, handle), -1);
        EXPECT_EQ(ZEMUrlPost3(url.c_str(), &fields, &status, &raw, &length, handle), -1);
        EXPECT_EQ(length, 55);
        EXPECT_EQ(raw, nullptr);
    }
    for (TransferHandle handle : {static_cast<TransferHandle>(nullptr), ended, unknown}) {
        for (int32_t direction : {0, 1}) {
            EXPECT_EQ(ZEMUrlTransferFile(handle, url.c_str(), &fields, file.c_str(), direction), 0);
            EXPECT_EQ(
                ZEMUrlTransferFileW(handle, url.c_str(), &fields, wideFile.c_str(), direction), 0);
            EXPECT_EQ(ZEMKIVTransferFile(handle, url.c_str(), "s", "f", file.c_str(), direction),
                      0);
            EXPECT_EQ(
                ZEMKIVTransferFileW(handle, url.c_str(), "s", u"f", wideFile.c_str(), direction),
                0);
        }
        char name[8] = "xxxxxxx";
        EXPECT_EQ(ZEMNormalDownloadFile(handle, url.c_str(), &fields, file.c_str(), name, 8), 0);
        EXPECT_EQ(name[0], '\0');
    }
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(ReadFileBytes(file), "data");
}

// The credentials of ZEMTransferBeginV2 answer a proxy's demand; without them the proxy's 407
// is the status.
TEST(TransferHandles, ProxyCredentialsOfTheHandleAnswerTheProxy) {
    NginxServer nginx;
    nginx.AddFile("via-proxy.txt", "proxied body");
    AuthProxy proxy("agent", "s3cret");
    ScopedEnv httpProxy("http_proxy", proxy.url());
    ScopedEnv noProxy("no_proxy", "");
    const std::string url = nginx.url("/via-proxy.txt");

    OwnedHandle withCredentials(ZEMTransferBeginV2("agent", "s3cret"));
    int32_t status = 0;
    char buffer[32] = {};
    EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, buffer, 31, withCredentials.get()), 12);
    EXPECT_EQ(status, 200);
    EXPECT_STREQ(buffer, "proxied body");

    OwnedHandle without = BeginHandle();
    ZEMUrlGet2(url.c_str(), &status, buffer, 31, without.get());
    EXPECT_EQ(status, 407);
    ZEMUrlGet2(url.c_str(), &status, buffer, 31, nullptr);
    EXPECT_EQ(status, 407);
}

// A server that sends the head and the first bytes at once, then, once the client has read
// them, the rest very slowly (over three minutes).
class SlowBodyServer {
  public:
    static constexpr std::size_t kLength = 1000000;
    static constexpr std::size_t kFirst = 3000;

    SlowBodyServer()
        : body_(PatternBytes(kLength, 5)), server_([this](ScriptedConnection& connection) {
              connection.ReadRequest();
              connection.Send(
                  HttpResponse(200, "", {"Content-Length: " + std::to_string(kLength)}, false) +
                  body_.substr(0, kFirst));
              if (connection.AwaitClientRead()) started_.Raise();
              connection.Trickle(body_.substr(kFirst), 100, std::chrono::milliseconds(20));
          }) {}

    std::string url() const { return server_.url("/slow"); }
    const std::string& body() const { return body_; }
    // Waits until the client has read the first bytes of `count` answers.
    bool AwaitStarted(int count) { return started_.AwaitAtLeast(count); }

  private:
    std::string body_;
    testing_support::EventCount started_;
    ScriptedServer server_;
};

// Without the cancel the rest of the body would take minutes; with it the call returns well
// within this, however loaded the machine.
constexpr auto kCancelledWithin = std::chrono::seconds(60);

// Runs `transfer` on another thread, cancels the handle once the body flows, and gives the
// transfer's result and how long it ran on after the cancel.
template <typename Transfer>
std::pair<int32_t, Clock::duration> CancelDuringBody(SlowBodyServer& server, int answer,
                                                     TransferHandle handle, Transfer transfer) {
    int32_t result = -2;
    Clock::time_point returned;
    std::thread worker([&] {
        result = transfer();
        returned = Clock::now();
    });
    EXPECT_TRUE(server.AwaitStarted(answer));
    const Clock::time_point cancelled = Clock::now();
    CancelTransferFile(handle);
    worker.join();
    return {result, returned - cancelled};
}

// The cancelled read ends the body at once; the call gives what it had read and the handle
// serves the next transfer.
TEST(TransferHandles, CancelFromAnotherThreadEndsASlowBodyWithWhatWasRead) {
    SlowBodyServer server;
    OwnedHandle handle = BeginHandle();
    const std::string url = server.url();

    int32_t status = 0;
    int32_t length = -1;
    char* raw = nullptr;
    auto [result3, late3] = CancelDuringBody(server, 1, handle.get(), [&] {
        return ZEMUrlGet3(url.c_str(), &status, &raw, &length, handle.get());
    });
    HandedBuffer handed(raw);
    EXPECT_LT(late3, kCancelledWithin);
    EXPECT_GE(result3, static_cast<int32_t>(SlowBodyServer::kFirst));
    EXPECT_LT(result3, static_cast<int32_t>(SlowBodyServer::kLength));
    EXPECT_EQ(length, result3);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(std::string(raw, static_cast<std::size_t>(length)),
              server.body().substr(0, static_cast<std::size_t>(length)));

    std::string buffer(SlowBodyServer::kLength + 1, '#');
    auto [result2, late2] = CancelDuringBody(server, 2, handle.get(), [&] {
        return ZEMUrlGet2(url.c_str(), &status, &buffer[0],
                          static_cast<int32_t>(SlowBodyServer::kLength), handle.get());
    });
    // ZEMUrlGet2 asks for all that is missing in one read; the bytes that had arrived when the
    // cancel came are still delivered.
    EXPECT_LT(late2, kCancelledWithin);
    ASSERT_GE(result2, static_cast<int32_t>(SlowBodyServer::kFirst));
    ASSERT_LT(result2, static_cast<int32_t>(SlowBodyServer::kLength));
    EXPECT_EQ(buffer.substr(0, static_cast<std::size_t>(result2)),
              server.body().substr(0, static_cast<std::size_t>(result2)));
    EXPECT_EQ(buffer[static_cast<std::size_t>(result2)], '\0');

    ScriptedServer next(Answer(HttpResponse(200, "after cancel")));
    char small[32] = {};
    EXPECT_EQ(ZEMUrlGet2(next.url().c_str(), &status, small, 31, handle.get()), 12);
    EXPECT_STREQ(small, "after cancel");
}

// Ending a handle while a transfer runs on it is a host's mistake, but a safe one: the transfer
// is cancelled and the session lives until the call has returned.
TEST(TransferHandles, EndFromAnotherThreadCancelsTheRunningTransferSafely) {
    SlowBodyServer server;
    TransferHandle handle = ZEMTransferBegin();
    const std::string url = server.url();
    int32_t status = 0;
    int32_t length = -1;
    char* raw = nullptr;
    int32_t result = -2;
    std::thread worker([&] { result = ZEMUrlGet3(url.c_str(), &status, &raw, &length, handle); });
    EXPECT_TRUE(server.AwaitStarted(1));
    ZEMTransferEnd(handle);
    worker.join();
    HandedBuffer handed(raw);
    EXPECT_GE(result, static_cast<int32_t>(SlowBodyServer::kFirst));
    EXPECT_LT(result, static_cast<int32_t>(SlowBodyServer::kLength));
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, handle), -1);
}

// ---- the user's HTTP/1.1 settings, seen from a fresh host process ----

constexpr const char kSettingsFile[] =
    "/HKEY_CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Internet Settings.reg";

// Two handles and a call with a null handle alive at once: the values stay 0 while any of them
// lives, even when both handles end during the call, and come back when the call returns.
TEST(TransferHandles, SettingsAreHeldOffUntilTheLastHandleOrCallEnds) {
    TempDir settings;
    std::filesystem::create_directories(
        std::filesystem::path(settings.path() + kSettingsFile).parent_path());
    WriteFileBytes(settings.path() + kSettingsFile,
                   "\"EnableHttp1_1\"=dword:00000001\n\"ProxyHttp1.1\"=dword:00000007\n");
    TempDir signals;
    const std::string arrived = signals.File("arrived");
    const std::string release = signals.File("release");
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        WriteFileBytes(arrived, "");
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (!FileExists(release) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        connection.Send(HttpResponse(200, "done"));
    });

    EXPECT_EQ(RunHostProbe(settings, "print begin begin print get-start " + server.url() +
                                         " await " + arrived + " end print end print touch " +
                                         release + " get-wait print"),
              "EnableHttp1_1=1 ProxyHttp1.1=7\n"
              "EnableHttp1_1=0 ProxyHttp1.1=0\n"
              "EnableHttp1_1=0 ProxyHttp1.1=0\n"
              "EnableHttp1_1=0 ProxyHttp1.1=0\n"
              "get=4 status=200\n"
              "EnableHttp1_1=1 ProxyHttp1.1=7\n");
}

}  // namespace
