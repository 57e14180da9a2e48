// The command-line host as a user meets it: output, messages and exit statuses.
#include <signal.h>

#include "api/api_support.h"

namespace {

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n') + 1);
}

ProgramResult RunHost(std::vector<std::string> arguments, const std::string& input = "/dev/null") {
    arguments.insert(arguments.begin(), ZEMUSER_HOST_PROGRAM);
    return RunProgram(arguments, input);
}

}  // namespace

// Also the proxy password's sources: the command line, the environment, standard input.
TEST(Host, AnswersFailuresAndUsageErrors) {
    // Answers by path; "/ok" is an upload's reply, any other unknown path a refused one.
    ScriptedServer server([](ScriptedConnection& connection) {
        const std::string line = ParseRequest(connection.ReadRequest()).requestLine;
        auto is = [&line](const char* path) { return line.find(path) != std::string::npos; };
        connection.Send(is(" /200 ")   ? HttpResponse(200, "hello\n")
                        : is(" /ok ")  ? HttpResponse(200, "OK")
                        : is(" /404 ") ? HttpResponse(404, "no such page\n")
                        : is(" /named ")
                            ? HttpResponse(200, "named",
                                           {"Content-Disposition: attachment; filename=report.bin"})
                            : HttpResponse(200, "ERROR full"));
    });
    TempDir dir;
    const std::string notes = dir.File("notes.txt"), trace = dir.File("trace"),
                      trace2 = dir.File("trace2"), ok = "HTTP 200\n";
    WriteFileBytes(notes, "notes");
    ScopedEnv debugOutput("ZEMUSER_DEBUG_OUTPUT", dir.File("debug"));
    const std::string refused = RefusedUrl();
    const std::string noConnection = ": No connection to the server could be made (12029)\n";
    const std::string checkTrace = " failed (run again with --trace FILE for details)\n";
    const std::string missing = server.url("/404");
    // Only the rows for origin.invalid go through the proxy.
    ScriptedServer proxy(ProxyDemanding("Basic YWdlbnQ6czNjcmV0", "proxied\n"));  // agent:s3cret
    ScopedEnv httpProxy("http_proxy", proxy.url("")), noProxy("no_proxy", "127.0.0.1");
    WriteFileBytes(dir.File("password"), "s3cret\n");
    const std::string origin = "http://origin.invalid/";
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int exitCode;
        std::string out, err;            // the first lines
        const char* password = nullptr;  // ZEMUSER_PROXY_PASSWORD; none: unset
        std::string input = "/dev/null";
    };
    // clang-format off
    const Case cases[] = {
        {"get", {"get", server.url("/200")}, 0, "hello\n", ok},
        {"get of an error page", {"get", missing, "-o", dir.File("page")}, 3, "", "HTTP 404\n"},
        {"upload", {"upload", server.url("/ok"), notes}, 0, "", ""},
        {"download under the announced name", {"download", server.url("/named"), dir.path()}, 0,
         "announced name: report.bin\n", ""},
        {"refused connection", {"get", refused, "--trace", trace, "--trace-level", "2"}, 1, "",
         "zemuser: " + refused + noConnection},
        // An error status is no failure of the library: there is no reason to give.
        {"download of an error page", {"download", missing, dir.File("d")}, 1, "",
         "zemuser: download from " + missing + checkTrace},
        {"traced download of an error", {"download", missing, dir.File("d"), "--trace", trace2},
         1, "", "zemuser: download from " + missing + " failed (the trace file may tell why)\n"},
        {"conf put refused", {"conf", "put", server.url("/error"), "s1", notes}, 1, "",
         "zemuser: sending " + notes + checkTrace},
        {"not a URL", {"get", "notaurl"}, 2, "",
         "URL: expected http://HOST[:PORT][/PATH] or https://HOST[:PORT][/PATH], got 'notaurl'\n"},
        {"field without a value", {"post", refused, "novalue"}, 2, "",
         "FIELD: expected name=value, got 'novalue'\n"},
        {"no command", {}, 2, "", "A subcommand is required\n"},
        {"unknown command", {"frobnicate"}, 2, "",
         "COMMAND: expected get, post, download, upload, conf or cpu, got 'frobnicate'\n"},
        {"proxy password given", {"get", origin, "--proxy-user", "agent", "--proxy-password", "s3cret"},
         0, "proxied\n", ok},
        {"proxy password from the environment", {"get", origin, "--proxy-user", "agent"}, 0,
         "proxied\n", ok, "s3cret"},
        {"proxy password from standard input", {"get", origin, "--proxy-user", "agent",
         "--proxy-password", "-"}, 0, "proxied\n", ok, "wrong", dir.File("password")},
        {"proxy password given goes first", {"get", origin, "--proxy-user", "agent",
         "--proxy-password", "wrong"}, 3, "", "HTTP 407\n", "s3cret"},
    };
    // clang-format on
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ScopedEnv password("ZEMUSER_PROXY_PASSWORD", row.password ? row.password : "");
        if (!row.password) unsetenv("ZEMUSER_PROXY_PASSWORD");
        const auto result = RunHost(row.arguments, row.input);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
        EXPECT_EQ(FirstLine(result.out), row.out);
        EXPECT_EQ(FirstLine(result.err), row.err);
    }
    EXPECT_EQ(ReadFileBytes(dir.File("page")), "no such page\n");
    EXPECT_EQ(ReadFileBytes(dir.File("report.bin")), "named");
    // The library's own report still reaches the trace and the debug output the user chose.
    const std::string report = "[ " + refused + " ] request failed...\n[12029, 0x00002efd] No con";
    EXPECT_EQ(ReadFileBytes(trace).find(report), 0u);
    EXPECT_NE(ReadFileBytes(dir.File("debug")).find(report), std::string::npos);
}

TEST(Host, CtrlCCancelsASlowTransfer) {
    EventCount inBody;
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\nfirst bytes");
        if (connection.AwaitClientRead()) inBody.Raise();
        connection.ReadUntilClosed(std::chrono::seconds(60));  // the rest never comes
    });
    TempDir dir;
    ChildProcess host({ZEMUSER_HOST_PROGRAM, "get", server.url("/slow")}, dir.File("out"),
                      dir.File("err"));
    ASSERT_TRUE(inBody.AwaitAtLeast(1));
    EXPECT_EQ(host.Stop(SIGINT, std::chrono::seconds(60)), 130);
    EXPECT_EQ(ReadFileBytes(dir.File("err")), "zemuser: cancelled\n");
    EXPECT_EQ(ReadFileBytes(dir.File("out")), "");
}
