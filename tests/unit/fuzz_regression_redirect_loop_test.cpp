// A server that answers every request with a redirect the platform wants confirmed (another
// scheme) made each followed request follow the next one from inside itself, without end,
// until the stack overflowed. Found by the server-answer fuzzer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "session/transfer_session.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using namespace zemuser;
using namespace testing_support;

TEST(RedirectLoop, ConfirmedRedirectsEndAfterTenPerRequest) {
    const struct {
        const char* name;
        int redirects;  // answered before a 200; 50 stands for endless
        RequestKind kind;
        bool sent;
    } rows[] = {
        {"endless, GET", 50, RequestKind::RequestGet, false},
        {"endless, multipart POST", 50, RequestKind::RequestMultipart, false},
        {"ten, then the answer", 10, RequestKind::RequestGet, true},
    };
    TempDir settings;
    ScopedEnv settingsDir("ZEMUSER_SETTINGS_DIR", settings.path());
    ScopedEnv receiveTimeout("ZEMUSER_RECEIVE_TIMEOUT_MS", "2000");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::atomic<int> served{0};
        ScriptedServer server([&](ScriptedConnection& connection) {
            connection.ReadRequest();
            connection.Send(served++ < row.redirects
                                ? HttpResponse(301, "", {"Location: ttw://127.0.0.1:1/x"})
                                : HttpResponse(200, "arrived"));
        });
        TransferSession session;
        // Each request of the session counts its redirects afresh.
        for (std::size_t round = 1; round <= 2; ++round) {
            served = 0;
            ASSERT_TRUE(session.Connect("127.0.0.1", server.port(), nullptr, nullptr,
                                        ConnectMode::ModeHttp, kTransferAgent));
            session.AddFormField("act", "upload", false);
            EXPECT_EQ(session.SendRequest("/start", row.kind, nullptr), row.sent) << round;
            char body[16] = {};
            if (row.sent) {
                EXPECT_EQ(session.ReadResponse(body, 15), 7u);
                EXPECT_STREQ(body, "arrived");
            }
            session.CloseHandles();
            // The request itself and the ten redirects followed from it.
            EXPECT_EQ(server.requests().size(), 11 * round) << round;
        }
    }
}

}  // namespace
