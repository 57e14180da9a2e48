// The engine's failure reports, as the trace file and the debugger output show them.
#include "session/failure_report.h"

#include <gtest/gtest.h>

#include <string>

#include "diag/trace_log.h"
#include "support/real_servers.h"

namespace {

using namespace zemuser;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::TempDir;

constexpr const char* kNoConnection =
    "[12029, 0x00002efd] No connection to the server could be made.\r\n";

TEST(FailureReport, TextsInTraceAndDebuggerOutput) {
    const struct {
        const char* name;
        bool connection;  // ReportConnectionFailure, which has no path
        const char* host;
        std::int32_t port;
        std::uint32_t mode;
        const char* path;
        Failure failure;
        std::int32_t threshold;
        const char* first;
        const char* second;  // none: the code has no internet text
    } rows[] = {
        // clang-format off
        {"request, internet code", false, "files.test", 80, 1, "/files/a.txt",
         {"query content-length failed...", 12029}, 0,
         "[ http://files.test:80/files/a.txt ] query content-length failed...", kNoConnection},
        {"ftp", false, "h", 443, 0, "/x?q=1", {"response failed..."}, 0,
         "[ ftp://h:443/x?q=1 ] response failed...", nullptr},
        {"https", false, "h", 443, 2, "/x?q=1", {"response failed..."}, 0,
         "[ https://h:443/x?q=1 ] response failed...", nullptr},
        {"unknown mode", false, "h", 443, 7, "/x?q=1", {"response failed..."}, 0,
         "[ h:443/x?q=1 ] response failed...", nullptr},
        {"connection, port as passed", true, "127.0.0.1", 0, 2, nullptr, {"connect failed...", 12029},
         0, "[ https://127.0.0.1:0 ] connect failed...", kNoConnection},
        {"system error code", true, "h", 80, 1, nullptr, {"connect failed...", 2}, 0,
         "[ http://h:80 ] connect failed...", nullptr},
        {"threshold above errors", false, "h", 8080, 1, "/p", {"request failed...", 12029}, 3,
         "[ http://h:8080/p ] request failed...", kNoConnection},
        {"missing texts", false, nullptr, 0, 0, nullptr, {nullptr}, 0, "[ ftp://:0 ] ", nullptr},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ScopedEnv debugOutput("ZEMUSER_DEBUG_OUTPUT", dir.File("debug.txt"));
        TraceLog::Instance().SetFile(dir.File("trace.txt").c_str());
        TraceLog::Instance().SetLevel(row.threshold);
        if (row.connection) {
            ReportConnectionFailure(row.host, row.port, row.mode, row.failure);
        } else {
            ReportRequestFailure(row.host, row.port, row.mode, row.path, row.failure);
        }
        TraceLog::Instance().SetFile(nullptr);
        TraceLog::Instance().SetLevel(0);
        const std::string second = row.second != nullptr ? row.second : "";
        // Each trace line ends in "\n"; each debugger entry on a line of its own.
        const std::string traced =
            row.first + std::string("\n") + (row.second ? second + "\n" : "");
        EXPECT_EQ(ReadFileBytes(dir.File("trace.txt")), row.threshold <= 2 ? traced : "");
        EXPECT_EQ(ReadFileBytes(dir.File("debug.txt")), row.first + std::string("\n") + second);
    }
}

}  // namespace
