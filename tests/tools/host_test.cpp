// The command-line host as a user meets it: output, messages and exit statuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <optional>
#include <regex>

#include "support/multipart_reference.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"
#include "tools_process.h"

using namespace testing_support;
using tools_testing::HostProgram;
using tools_testing::RunningProgram;
using tools_testing::RunProgram;

namespace {

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n') + 1);
}

// Each "{name}" of `text` replaced by its value.
std::string Expand(std::string text,
                   const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& [name, value] : values) {
        for (std::size_t at; (at = text.find(name)) != std::string::npos;) {
            text.replace(at, name.size(), value);
        }
    }
    return text;
}

std::vector<std::string> HostCommand(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), HostProgram());
    return arguments;
}

}  // namespace

TEST(Host, AnswersFailuresAndUsageErrors) {
    TempDir dir;
    WriteFileBytes(dir.File("notes.txt"), "notes");
    ScopedEnv debugOutput("ZEMUSER_DEBUG_OUTPUT", dir.File("debug"));
    const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
    // A label longer than 63 bytes cannot go into a DNS query: refused without asking a server.
    const std::string unresolvable = "http://" + std::string(64, 'a') + ".invalid/x";
    const std::string noConnection = ": No connection to the server could be made (12029)\n";
    const std::string checkTrace = " failed (run again with --trace FILE for details)\n";
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::string answer;  // what the server at {server} answers
        int exitCode;
        std::string out, err;  // the first lines
    };
    // clang-format off
    const Case cases[] = {
        {"get", {"get", "{server}/a"}, HttpResponse(200, "hello\n"), 0, "hello\n", "HTTP 200\n"},
        {"get of an error page", {"get", "{server}/a", "-o", "{dir}/page"},
         HttpResponse(404, "no such page\n"), 3, "", "HTTP 404\n"},
        {"post", {"post", "{server}/f", "topic=engines", "name=Ada"}, HttpResponse(200, "stored\n"),
         0, "stored\n", "HTTP 200\n"},
        {"upload", {"upload", "{server}/f", "{dir}/notes.txt"}, HttpResponse(200, "OK"), 0, "", ""},
        {"refused connection", {"get", refused, "--trace", "{dir}/trace", "--trace-level", "2"}, "", 1,
         "", "zemuser: " + refused + noConnection},
        {"refused upload", {"upload", refused, "{dir}/notes.txt"}, "", 1, "",
         "zemuser: " + refused + noConnection},
        {"unresolvable host", {"get", unresolvable}, "", 1, "",
         "zemuser: " + unresolvable + ": The host name could not be turned into an address (12007)\n"},
        // An error status is no failure of the library: there is no reason to give.
        {"download of an error page", {"download", "{server}/f", "{dir}/d"}, HttpResponse(404, "gone"),
         1, "", "zemuser: download from {server}/f" + checkTrace},
        {"download of an error page, traced", {"download", "{server}/f", "{dir}/d", "--trace", "{dir}/t"},
         HttpResponse(404, "gone"), 1, "",
         "zemuser: download from {server}/f failed (the trace file may tell why)\n"},
        {"conf put refused", {"conf", "put", "{server}/f", "s1", "{dir}/notes.txt"},
         HttpResponse(200, "ERROR full"), 1, "", "zemuser: sending {dir}/notes.txt" + checkTrace},
        {"not a URL", {"get", "notaurl"}, "", 2, "",
         "URL: expected http://HOST[:PORT][/PATH] or https://HOST[:PORT][/PATH], got 'notaurl'\n"},
        {"missing local file", {"upload", refused, "{dir}/missing.txt"}, "", 2, "",
         "FILE: File does not exist: {dir}/missing.txt\n"},
        {"field without a value", {"post", refused, "novalue"}, "", 2, "",
         "FIELD: expected name=value, got 'novalue'\n"},
        {"no command", {}, "", 2, "", "A subcommand is required\n"},
        {"get without a URL", {"get"}, "", 2, "", "URL is required\n"},
        {"help", {"--help"}, "", 0, "Blocking HTTP and HTTPS transfers through the zemuser library.\n", ""},
    };
    // clang-format on
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Answer(row.answer));
        const std::vector<std::pair<std::string, std::string>> values{{"{server}", server.url("")},
                                                                      {"{dir}", dir.path()}};
        std::vector<std::string> arguments;
        for (const auto& argument : row.arguments) arguments.push_back(Expand(argument, values));
        const auto result = RunProgram(HostCommand(arguments));
        EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
        EXPECT_EQ(FirstLine(result.out), Expand(row.out, values));
        EXPECT_EQ(FirstLine(result.err), Expand(row.err, values));
    }
    EXPECT_EQ(ReadFileBytes(dir.File("page")), "no such page\n");
    // The library's own report still reaches the trace and the debug output the user chose.
    const std::string report = "[ " + refused + " ] request failed...\n[12029, 0x00002efd] No con";
    EXPECT_EQ(ReadFileBytes(dir.File("trace")).find(report), 0u);
    EXPECT_NE(ReadFileBytes(dir.File("debug")).find(report), std::string::npos);
}

TEST(Host, PostSendsTheFieldsInOrderOfName) {
    ScriptedServer server(Answer(HttpResponse(200, "stored")));
    const auto result =
        RunProgram(HostCommand({"post", server.url("/f"), "topic=engines", "name=Ada"}));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(ParseRequest(server.requests()[0]).body,
              TextPart("name", "Ada") + TextPart("topic", "engines") + ClosingDelimiter());
}

TEST(Host, CtrlCCancelsASlowTransfer) {
    EventCount inBody;
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 1000000\r\n\r\nfirst bytes");
        if (connection.AwaitClientRead()) inBody.Raise();
        connection.ReadUntilClosed(std::chrono::seconds(60));  // the rest never comes
    });
    RunningProgram program(HostCommand({"get", server.url("/slow")}));
    ASSERT_TRUE(inBody.AwaitAtLeast(1));
    program.Signal(SIGINT);
    const auto result = program.Wait(std::chrono::seconds(60));
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(result.err, "zemuser: cancelled\n");
    EXPECT_EQ(result.out, "");
}

TEST(Host, ProxyPasswordFromTheCommandLineTheEnvironmentOrStandardInput) {
    ScriptedServer origin(Answer(HttpResponse(200, "proxied body")));
    AuthProxy proxy("agent", "s3cret");
    ScopedEnv httpProxy("http_proxy", proxy.url());
    ScopedEnv noProxy("no_proxy", "");
    TempDir folder;
    WriteFileBytes(folder.File("password"), "s3cret\n");
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::optional<std::string> environment;
        std::string input;
        int exitCode;  // an unsatisfied proxy answers 407
    };
    // clang-format off
    const Case cases[] = {
        {"command line", {"--proxy-password", "s3cret"}, std::nullopt, "/dev/null", 0},
        {"environment", {}, "s3cret", "/dev/null", 0},
        {"standard input", {"--proxy-password", "-"}, "wrong", folder.File("password"), 0},
        {"command line before environment", {"--proxy-password", "wrong"}, "s3cret", "/dev/null", 3},
        {"none", {}, std::nullopt, "/dev/null", 3},
    };
    // clang-format on
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ScopedEnv password("ZEMUSER_PROXY_PASSWORD", row.environment.value_or(""));
        if (!row.environment) unsetenv("ZEMUSER_PROXY_PASSWORD");
        std::vector<std::string> argv =
            HostCommand({"get", origin.url("/"), "--proxy-user", "agent"});
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        const auto result = tools_testing::RunningProgram(argv, row.input).Wait();
        EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
        EXPECT_EQ(result.out == "proxied body", row.exitCode == 0) << result.out;
    }
}

TEST(Host, CpuPrintsBothPercentagesAndWatchEndsOnCtrlC) {
    const std::regex usageLine("system [0-9]+% process [0-9]+%\n");
    const auto once = RunProgram(HostCommand({"cpu"}));
    EXPECT_EQ(once.exitCode, 0) << once.err;
    EXPECT_TRUE(std::regex_match(once.out, usageLine)) << once.out;

    RunningProgram watch(HostCommand({"cpu", "--watch"}));
    const std::string firstLine = FirstLine(watch.AwaitOut("\n"));
    watch.Signal(SIGINT);
    EXPECT_EQ(watch.Wait().exitCode, 0);
    EXPECT_TRUE(std::regex_match(firstLine, usageLine)) << firstLine;
}

TEST(Host, ConfRoundTripAndDownloadUnderTheAnnouncedName) {
    tools_testing::FileServiceProcess service;
    TempDir folder;
    const std::string content = PatternText(100000, 3);
    WriteFileBytes(folder.File("report.bin"), content);
    const auto put =
        RunProgram(HostCommand({"conf", "put", service.url(), "s42", folder.File("report.bin")}));
    ASSERT_EQ(put.exitCode, 0) << put.err;
    const auto get = RunProgram(
        HostCommand({"conf", "get", service.url(), "s42", "report.bin", folder.File("back")}));
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(ReadFileBytes(folder.File("back")), content);

    const std::string inbox = folder.File("inbox");
    ASSERT_EQ(mkdir(inbox.c_str(), 0755), 0);
    const auto download = RunProgram(HostCommand(
        {"download", service.url(), inbox, "act=fetch", "session_id=s42", "filename=report.bin"}));
    ASSERT_EQ(download.exitCode, 0) << download.err;
    EXPECT_EQ(download.out, "announced name: report.bin\nsaved to: " + inbox + "/report.bin\n");
    EXPECT_EQ(ReadFileBytes(inbox + "/report.bin"), content);
}
