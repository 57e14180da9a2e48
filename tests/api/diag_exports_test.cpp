#include <gtest/gtest.h>
#include <zemuser.h>

#include <climits>
#include <cstdint>
#include <string>

#include "support/real_servers.h"

namespace {

using testing_support::FreeLoopbackPort;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// Leaves the process-wide trace settings as a fresh library has them.
class TraceExportsTest : public ::testing::Test {
  protected:
    ~TraceExportsTest() override {
        ZEMUser_SetTraceFile(nullptr);
        ZEMUser_SetTraceLevel(0);
    }

    TempDir dir;
    std::string path = dir.File("trace.txt");
};

TEST_F(TraceExportsTest, SetTraceFileStartsAnEmptyFileAndNullOrBadPathsTurnTracingOff) {
    WriteFileBytes(path, "old content\n");
    ZEMUser_SetTraceFile(path.c_str());
    EXPECT_EQ(ReadFileBytes(path), "");
    ZEMUser_SetTraceFile(nullptr);
    ZEMUser_SetTraceFile("");
    ZEMUser_SetTraceFile(dir.File("missing/trace.txt").c_str());
    ZEMUser_SetTraceLevel(INT32_MIN);
    ZEMUser_SetTraceLevel(INT32_MAX);
}

// A refused connection is reported as error lines (level 2) through the trace threshold.
TEST_F(TraceExportsTest, FailureReportsFollowTheThreshold) {
    const std::string url = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/x";
    for (int32_t level : {2, 3}) {
        SCOPED_TRACE(level);
        ZEMUser_SetTraceFile(path.c_str());
        ZEMUser_SetTraceLevel(level);
        int32_t status = -1;
        char buffer[16];
        EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, buffer, sizeof buffer - 1, nullptr), -1);
        const std::string trace = ReadFileBytes(path);
        if (level == 2) {
            EXPECT_EQ(trace.rfind("[ " + url + " ] ", 0), 0u) << trace;
        } else {
            EXPECT_EQ(trace, "");
        }
    }
}

TEST(CpuUsageExportTest, GivesPercentagesAndAcceptsNullPointer) {
    int32_t process = -12345;
    const int32_t system = GetCPUUsage(&process);
    EXPECT_GE(system, 0);
    EXPECT_LE(system, 100);
    EXPECT_GE(process, 0);  // written, whatever the meter's state
    EXPECT_LE(process, 100);
    const int32_t again = GetCPUUsage(nullptr);
    EXPECT_GE(again, 0);
    EXPECT_LE(again, 100);
}

}  // namespace
