// What the command-line host says when a command fails, and with which exit status.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "program_run.h"
#include "support/real_servers.h"

using testing_support::NginxServer;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using tools_testing::HostProgram;
using tools_testing::RunProgram;

namespace {

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n') + 1);
}

}  // namespace

TEST(HostFailures, EachSaysWhyAndExitsWithItsStatus) {
    NginxServer nginx("location = /hello { return 200 \"secure hello\"; }");
    ScopedEnv trust("SSL_CERT_FILE", testing_support::TestCertificates::Get().caFile);
    TempDir folder;
    testing_support::WriteFileBytes(folder.File("notes.txt"), "notes");
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort()) + "/x";
    // A label longer than 63 bytes cannot be put into a DNS query, so the resolver refuses the
    // name on this machine without asking any server.
    const std::string unresolvable = "http://" + std::string(64, 'a') + ".invalid/x";
    const std::string clientCertificate =
        "https://127.0.0.1:" + std::to_string(nginx.clientCertPort()) + "/hello";

    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        int exitCode;
        std::string firstErrorLine;
    };
    const Case cases[] = {
        {"refused connection",
         {"get", refused},
         1,
         "zemuser: " + refused + ": No connection to the server could be made (12029)\n"},
        {"refused upload",
         {"upload", refused, folder.File("notes.txt")},
         1,
         "zemuser: " + refused + ": No connection to the server could be made (12029)\n"},
        {"unresolvable host",
         {"get", unresolvable},
         1,
         "zemuser: " + unresolvable +
             ": The host name could not be turned into an address (12007)\n"},
        // The library goes on without a certificate; the server then refuses in its own way.
        {"client certificate demanded", {"get", clientCertificate}, 3, "HTTP 400\n"},
        {"not a URL",
         {"get", "notaurl"},
         2,
         "URL: expected http://HOST[:PORT][/PATH] or https://HOST[:PORT][/PATH], got "
         "'notaurl'\n"},
        {"missing local file",
         {"upload", refused, folder.File("missing.txt")},
         2,
         "FILE: File does not exist: " + folder.File("missing.txt") + "\n"},
        // An error status is no library failure: there is no reason to give.
        {"missing file on the server",
         {"download", nginx.url("/missing"), folder.File("download")},
         1,
         "zemuser: download from " + nginx.url("/missing") +
             " failed (run again with --trace FILE for details)\n"},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> argv{HostProgram()};
        argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
        auto result = RunProgram(argv);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
        EXPECT_EQ(FirstLine(result.err), row.firstErrorLine);
    }
}
