// The command-line host as a user meets it: output, messages and exit statuses.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <regex>
#include <thread>

#include "file_service_process.h"
#include "program_run.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

using namespace std::chrono_literals;
using testing_support::Answer;
using testing_support::HttpResponse;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using tools_testing::HostProgram;
using tools_testing::RunProgram;

TEST(HostGet, PrintsTheBodyAndTheStatus) {
    ScriptedServer server(Answer(HttpResponse(200, "hello from the server\n")));
    auto result = RunProgram({HostProgram(), "get", server.url("/greeting")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "hello from the server\n");
    EXPECT_EQ(result.err, "HTTP 200\n");
}

TEST(HostGet, NotFoundWritesTheBodyAndExitsWithThree) {
    ScriptedServer server(Answer(HttpResponse(404, "no such page")));
    testing_support::TempDir folder;
    auto result =
        RunProgram({HostProgram(), "get", server.url("/missing"), "-o", folder.File("page")});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.err, "HTTP 404\n");
    EXPECT_EQ(testing_support::ReadFileBytes(folder.File("page")), "no such page");
}

TEST(HostGet, RefusedConnectionLeavesTheUsersTraceAndDebugOutputAsTheyWere) {
    std::string url =
        "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort()) + "/";
    testing_support::TempDir folder;
    testing_support::ScopedEnv debugOutput("ZEMUSER_DEBUG_OUTPUT", folder.File("debug.txt"));
    auto result = RunProgram({HostProgram(), "get", url, "-o", folder.File("page"), "--trace",
                              folder.File("trace.txt"), "--trace-level", "2"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "zemuser: " + url + ": No connection to the server could be made (12029)\n");
    EXPECT_FALSE(testing_support::FileExists(folder.File("page")));
    // The library's failure report still reaches both places the user chose.
    const std::string report =
        "[ " + url + " ] request failed...\n[12029, 0x00002efd] No connection";
    EXPECT_EQ(testing_support::ReadFileBytes(folder.File("trace.txt")).find(report), 0u);
    EXPECT_EQ(testing_support::ReadFileBytes(folder.File("debug.txt")).find(report), 0u);
}

TEST(HostGet, CtrlCCancelsASlowTransfer) {
    testing_support::EventCount inBody;
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        std::string body(1 << 20, 'x');
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\n\r\n" + body.substr(0, 64));
        if (connection.AwaitClientRead()) inBody.Raise();
        // Far slower than the test waits; stops once the client has gone.
        connection.Trickle(body.substr(64), 64, 50ms);
    });
    tools_testing::RunningProgram program({HostProgram(), "get", server.url("/slow")});
    ASSERT_TRUE(inBody.AwaitAtLeast(1));

    program.Signal(SIGINT);
    auto result = program.Wait(60s);
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_EQ(result.err, "zemuser: cancelled\n");
    EXPECT_EQ(result.out, "");
}

TEST(HostPost, SendsTheFieldsByNameAndPrintsTheReply) {
    ScriptedServer server(Answer(HttpResponse(200, "stored")));
    auto result =
        RunProgram({HostProgram(), "post", server.url("/form"), "topic=engines", "name=Ada"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "stored");
    EXPECT_EQ(result.err, "HTTP 200\n");
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string body = testing_support::ParseRequest(server.requests()[0]).body;
    std::size_t name = body.find("name=\"name\"\r\n\r\nAda\r\n");
    std::size_t topic = body.find("name=\"topic\"\r\n\r\nengines\r\n");
    ASSERT_NE(name, std::string::npos) << body;
    ASSERT_NE(topic, std::string::npos) << body;
    EXPECT_LT(name, topic);
}

TEST(HostUsage, HelpAndUsageErrors) {
    auto help = RunProgram({HostProgram(), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: zemuser"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("130  cancelled"), std::string::npos) << help.out;

    auto commandHelp = RunProgram({HostProgram(), "download", "--help"});
    EXPECT_EQ(commandHelp.exitCode, 0);
    EXPECT_NE(commandHelp.out.find("Examples:"), std::string::npos) << commandHelp.out;

    EXPECT_EQ(RunProgram({HostProgram()}).exitCode, 2);
    EXPECT_EQ(RunProgram({HostProgram(), "get"}).exitCode, 2);
    EXPECT_EQ(RunProgram({HostProgram(), "frobnicate"}).exitCode, 2);
    auto badField = RunProgram({HostProgram(), "post", "http://127.0.0.1:9/", "novalue"});
    EXPECT_EQ(badField.exitCode, 2);
    EXPECT_NE(badField.err.find("name=value"), std::string::npos) << badField.err;
}

TEST(HostCpu, PrintsBothPercentagesAndWatchEndsOnCtrlC) {
    const std::regex usageLine("system [0-9]+% process [0-9]+%\n");
    auto once = RunProgram({HostProgram(), "cpu"});
    EXPECT_EQ(once.exitCode, 0) << once.err;
    EXPECT_TRUE(std::regex_match(once.out, usageLine)) << once.out;

    tools_testing::RunningProgram watch({HostProgram(), "cpu", "--watch"});
    for (int i = 0; i < 1000 && watch.OutSoFar().empty(); ++i) std::this_thread::sleep_for(10ms);
    watch.Signal(SIGINT);
    auto watched = watch.Wait(10s);
    EXPECT_EQ(watched.exitCode, 0) << watched.err;
    ASSERT_FALSE(watched.out.empty());
    EXPECT_TRUE(std::regex_match(watched.out.substr(0, watched.out.find('\n') + 1), usageLine))
        << watched.out;
}

TEST(HostFileService, ConfRoundTripAndDownloadUnderTheAnnouncedName) {
    tools_testing::FileServiceProcess service;
    testing_support::TempDir folder;
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    testing_support::WriteFileBytes(folder.File("report.bin"), content);

    auto put = RunProgram({HostProgram(), "conf", "put", service.url(), "s42",
                           folder.File("report.bin"), "--trace", folder.File("put.trace")});
    ASSERT_EQ(put.exitCode, 0) << put.err;
    EXPECT_NE(testing_support::ReadFileBytes(folder.File("put.trace"))
                  .find("ZEMKIVUploadFile Begin: " + service.url() + ", s42, "),
              std::string::npos);

    auto get = RunProgram(
        {HostProgram(), "conf", "get", service.url(), "s42", "report.bin", folder.File("back")});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(testing_support::ReadFileBytes(folder.File("back")), content);

    const std::string inbox = folder.File("inbox");
    ASSERT_EQ(mkdir(inbox.c_str(), 0755), 0);
    auto download = RunProgram({HostProgram(), "download", service.url(), inbox, "act=fetch",
                                "session_id=s42", "filename=report.bin"});
    ASSERT_EQ(download.exitCode, 0) << download.err;
    EXPECT_EQ(download.out, "announced name: report.bin\nsaved to: " + inbox + "/report.bin\n");
    EXPECT_EQ(testing_support::ReadFileBytes(inbox + "/report.bin"), content);

    // A plain URL upload whose fields make it the service's upload form.
    auto upload = RunProgram({HostProgram(), "upload", service.url(), folder.File("report.bin"),
                              "x=kivStuff", "act=upload", "session_id=s43"});
    ASSERT_EQ(upload.exitCode, 0) << upload.err;
    EXPECT_EQ(testing_support::ReadFileBytes(service.root() + "/s43/report.bin"), content);

    auto missing = RunProgram({HostProgram(), "download", service.url(), inbox, "act=fetch",
                               "session_id=s42", "filename=nothing.bin"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("zemuser: download from " + service.url() + " failed"),
              std::string::npos)
        << missing.err;
}
