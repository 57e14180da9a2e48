// Transfers on several threads at once, each with its own handles, sharing only the layer's
// process-wide state (handle table, cookie jar, library set-up).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/internet_test_helpers.h"
#include "support/scripted_server.h"

namespace {

using internet_testing::Connection;
using internet_testing::InternetHandle;
using internet_testing::ReadBody;
using internet_testing::Send;
using testing_support::HttpResponse;
using testing_support::ParseRequest;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;

TEST(InternetConcurrencyTest, ThreadsTransferIndependently) {
    // Echoes the request line's path as the body, so answers cannot be mixed up unnoticed.
    ScriptedServer server([](ScriptedConnection& connection) {
        const std::string raw = connection.ReadRequest();
        if (raw.empty()) return;
        const std::string line = ParseRequest(raw).requestLine;
        connection.Send(HttpResponse(200, line.substr(4, line.rfind(' ') - 4)));
    });
    constexpr int kThreads = 4;
    constexpr int kRequests = 10;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Connection connection(server.port());
            // A path of its own, so the process-wide jar adds nothing to other tests' requests.
            const std::string url =
                "http://127.0.0.1:" + std::to_string(server.port()) + "/jar-concurrency/";
            InternetSetCookieA(url.c_str(), ("c" + std::to_string(t)).c_str(), "v");
            for (int i = 0; i < kRequests; ++i) {
                const std::string path = "/t" + std::to_string(t) + "/" + std::to_string(i);
                InternetHandle request = connection.Open("GET", path.c_str());
                if (Send(request.get()) && ReadBody(request.get()) == path) ++good;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(good.load(), kThreads * kRequests);
}

}  // namespace
