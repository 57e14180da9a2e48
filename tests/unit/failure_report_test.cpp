#include "session/failure_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "diag/trace_log.h"
#include "support/real_servers.h"

namespace {

using namespace zemuser;

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::TempDir;

// An internet error code and its text, as the platform words it (line end included).
constexpr platform::ErrorCode kCannotConnect = 12029;
const std::string kCannotConnectLine =
    "[12029, 0x00002efd] No connection to the server could be made.\r\n";

// The debugger output file shows each text as an entry of its own line.
std::string DebugEntry(const std::string& text) {
    return text.empty() || text.back() != '\n' ? text + "\n" : text;
}

// Captures both outputs: the library's trace file at level 0 and the debugger output file.
class FailureReportTest : public ::testing::Test {
  protected:
    FailureReportTest() {
        TraceLog::Instance().SetFile(tracePath.c_str());
        TraceLog::Instance().SetLevel(0);
    }
    ~FailureReportTest() override {
        TraceLog::Instance().SetFile(nullptr);
        TraceLog::Instance().SetLevel(0);
    }

    std::string Trace() const { return ReadFileBytes(tracePath); }
    std::string Debug() const { return FileExists(debugPath) ? ReadFileBytes(debugPath) : ""; }

    // Expects exactly these lines in both outputs, in order.
    void ExpectLines(const std::string& first, const std::string& second = "") const {
        EXPECT_EQ(Trace(), first + "\n" + (second.empty() ? "" : second + "\n"));
        EXPECT_EQ(Debug(), DebugEntry(first) + (second.empty() ? "" : DebugEntry(second)));
    }

    TempDir dir;
    std::string tracePath = dir.File("trace.txt");
    std::string debugPath = dir.File("debug.txt");
    ScopedEnv debugOutput{"ZEMUSER_DEBUG_OUTPUT", debugPath};
};

TEST_F(FailureReportTest, RequestFailureWritesUrlLineThenErrorText) {
    ReportRequestFailure("files.test", 80, 1, "/files/a.txt",
                         {"query content-length failed...", kCannotConnect});
    ExpectLines("[ http://files.test:80/files/a.txt ] query content-length failed...",
                kCannotConnectLine);
}

TEST_F(FailureReportTest, SchemePrefixFollowsTheMode) {
    struct Case {
        uint32_t mode;
        const char* expected;
    };
    const Case cases[] = {
        {0, "[ ftp://h:443/x?q=1 ] response failed..."},
        {1, "[ http://h:443/x?q=1 ] response failed..."},
        {2, "[ https://h:443/x?q=1 ] response failed..."},
        {7, "[ h:443/x?q=1 ] response failed..."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        TraceLog::Instance().SetFile(tracePath.c_str());
        std::remove(debugPath.c_str());
        ReportRequestFailure("h", 443, c.mode, "/x?q=1", {"response failed..."});
        ExpectLines(c.expected);
    }
}

TEST_F(FailureReportTest, ConnectionFailureHasNoPathAndShowsPortAsPassed) {
    ReportConnectionFailure("127.0.0.1", 0, 2, {"connect failed...", kCannotConnect});
    ExpectLines("[ https://127.0.0.1:0 ] connect failed...", kCannotConnectLine);
}

TEST_F(FailureReportTest, CodeWithoutInternetTextGivesOneLine) {
    for (platform::ErrorCode code : {0u, 2u}) {
        SCOPED_TRACE(code);
        TraceLog::Instance().SetFile(tracePath.c_str());
        std::remove(debugPath.c_str());
        ReportConnectionFailure("h", 80, 1, {"connect failed...", code});
        ExpectLines("[ http://h:80 ] connect failed...");
    }
}

TEST_F(FailureReportTest, ThresholdAboveErrorsKeepsLinesOutOfTraceOnly) {
    TraceLog::Instance().SetLevel(3);
    ReportRequestFailure("h", 8080, 1, "/p", {"request failed...", kCannotConnect});
    EXPECT_EQ(Trace(), "");
    EXPECT_EQ(Debug(),
              DebugEntry("[ http://h:8080/p ] request failed...") + DebugEntry(kCannotConnectLine));
}

TEST_F(FailureReportTest, MissingTextsAreReportedAsEmpty) {
    ReportRequestFailure(nullptr, 0, 0, nullptr, {nullptr});
    ExpectLines("[ ftp://:0 ] ");
}

}  // namespace
