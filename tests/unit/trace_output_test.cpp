// The failure reports as they reach the trace file and the debugger output.
#include <gtest/gtest.h>

#include <string>

#include "diag/trace_log.h"
#include "session/failure_report.h"
#include "support/real_servers.h"

namespace {

using namespace zemuser;
using namespace testing_support;

TEST(FailureReport, TextsInTraceAndDebuggerOutput) {
    const char* const noConnection =
        "[12029, 0x00002efd] No connection to the server could be made.\r\n";
    const struct {
        const char* name;
        const char *host, *path;  // no path: a connection failure
        std::int32_t port;
        std::uint32_t mode;
        Failure failure;
        const char* first;
        const char* second = nullptr;  // none: the code has no internet text
    } rows[] = {
        // clang-format off
        {"unknown mode", "h", "/x?q=1", 443, 7, {"response failed..."}, "[ h:443/x?q=1 ] response failed..."},
        {"connection, port as passed", "127.0.0.1", nullptr, 0, 2, {"connect failed...", 12029},
         "[ https://127.0.0.1:0 ] connect failed...", noConnection},
        {"system error code", "h", nullptr, 80, 1, {"connect failed...", 2}, "[ http://h:80 ] connect failed..."},
        {"missing texts", nullptr, nullptr, 0, 0, {nullptr}, "[ ftp://:0 ] "},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ScopedEnv debugOutput("ZEMUSER_DEBUG_OUTPUT", dir.File("debug.txt"));
        TraceLog::Instance().SetFile(dir.File("trace.txt").c_str());
        if (row.path == nullptr) ReportConnectionFailure(row.host, row.port, row.mode, row.failure);
        if (row.path != nullptr)
            ReportRequestFailure(row.host, row.port, row.mode, row.path, row.failure);
        TraceLog::Instance().SetFile(nullptr);
        // Each trace line ends in "\n"; each debugger entry is a line of its own.
        const std::string first = row.first + std::string("\n"),
                          second = row.second ? row.second : "";
        EXPECT_EQ(ReadFileBytes(dir.File("trace.txt")), first + (row.second ? second + "\n" : ""));
        EXPECT_EQ(ReadFileBytes(dir.File("debug.txt")), first + second);
    }
}

}  // namespace
