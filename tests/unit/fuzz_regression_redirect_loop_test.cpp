// Found by the server-answer fuzzer: endless redirects wanting confirmation (another scheme)
// were each followed from inside the last, until the stack overflowed.
#include <gtest/gtest.h>

#include <atomic>

#include "session/transfer_session.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using namespace zemuser;
using namespace testing_support;

TEST(RedirectLoop, ConfirmedRedirectsEndAfterTenPerRequest) {
    const struct {
        const char* name;
        int redirects;  // before the answer; 50 stands for endless
        RequestKind kind;
    } rows[] = {{"endless, GET", 50, RequestKind::RequestGet},
                {"endless, multipart POST", 50, RequestKind::RequestMultipart},
                {"ten, then the answer", 10, RequestKind::RequestGet}};
    TempDir settings;
    ScopedEnv settingsDir("ZEMUSER_SETTINGS_DIR", settings.path());
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
        for (std::size_t round = 1; round <= 2; ++round) {  // each request counts afresh
            served = 0;
            ASSERT_TRUE(session.Connect("127.0.0.1", server.port(), nullptr, nullptr,
                                        ConnectMode::ModeHttp, kTransferAgent));
            session.AddFormField("act", "upload", false);
            const bool arrives = row.redirects <= 10;
            EXPECT_EQ(session.SendRequest("/start", row.kind, nullptr), arrives);
            char body[16] = {};
            if (arrives) session.ReadResponse(body, 15);
            EXPECT_STREQ(body, arrives ? "arrived" : "");
            session.CloseHandles();
            EXPECT_EQ(server.requests().size(), 11 * round);  // the request and ten redirects
        }
    }
}

}  // namespace
