// Where the command-line host takes the proxy password from: the command line, the
// environment or standard input.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "program_run.h"
#include "support/real_servers.h"

using testing_support::AuthProxy;
using testing_support::NginxServer;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using tools_testing::HostProgram;
using tools_testing::RunProgram;

TEST(HostProxyPassword, TakenFromTheCommandLineTheEnvironmentOrStandardInput) {
    NginxServer nginx;
    const std::string url = nginx.url(nginx.AddFile("via-proxy.txt", "proxied body"));
    AuthProxy proxy("agent", "s3cret");
    ScopedEnv httpProxy("http_proxy", proxy.url());
    ScopedEnv noProxy("no_proxy", "");
    TempDir folder;
    testing_support::WriteFileBytes(folder.File("password"), "s3cret\n");

    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::optional<std::string> environment;
        std::string input;
        int exitCode;  // a proxy that is not satisfied answers 407
    };
    const Case cases[] = {
        {"command line", {"--proxy-password", "s3cret"}, std::nullopt, "/dev/null", 0},
        {"environment", {}, "s3cret", "/dev/null", 0},
        {"standard input", {"--proxy-password", "-"}, "wrong", folder.File("password"), 0},
        {"command line before environment",
         {"--proxy-password", "wrong"},
         "s3cret",
         "/dev/null",
         3},
        {"none", {}, std::nullopt, "/dev/null", 3},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        ScopedEnv password("ZEMUSER_PROXY_PASSWORD", row.environment.value_or(""));
        if (!row.environment) unsetenv("ZEMUSER_PROXY_PASSWORD");
        std::vector<std::string> argv{HostProgram(), "get", url, "--proxy-user", "agent"};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        auto result = RunProgram(argv, std::chrono::seconds(30), row.input);
        EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
        if (row.exitCode == 0) {
            EXPECT_EQ(result.out, "proxied body");
        }
    }
}
