#include <gtest/gtest.h>
#include <zemuser.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "export_test_helpers.h"

namespace {

using export_testing::RefusedUrl;
using testing_support::FileExists;
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

    // A refused request: the library reports it as lines of level 2.
    static void RefusedRequest(const std::string& url) {
        int32_t status = -1;
        char buffer[16];
        EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, buffer, sizeof buffer - 1, nullptr), -1);
    }

    TempDir dir;
    std::string path = dir.File("trace.txt");
};

TEST_F(TraceExportsTest, SetTraceFileStartsTheFileEmpty) {
    WriteFileBytes(path, "old content\n");
    ZEMUser_SetTraceFile(path.c_str());
    EXPECT_EQ(ReadFileBytes(path), "");
}

// A null path, or one that cannot be opened, closes the current file and traces nowhere.
TEST_F(TraceExportsTest, NullOrUnopenablePathsTurnTracingOff) {
    const std::string missing = dir.File("missing/trace.txt");
    const struct {
        const char* name;
        const char* path;
    } rows[] = {{"null", nullptr}, {"empty", ""}, {"missing folder", missing.c_str()}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ZEMUser_SetTraceFile(path.c_str());
        RefusedRequest(RefusedUrl("/before"));
        const std::string traced = ReadFileBytes(path);
        ASSERT_NE(traced.find("/before"), std::string::npos) << traced;

        ZEMUser_SetTraceFile(row.path);
        RefusedRequest(RefusedUrl("/after"));
        EXPECT_EQ(ReadFileBytes(path), traced);
        EXPECT_FALSE(FileExists(missing));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

// The failure report's lines are of level 2: written at a threshold up to 2, never above.
TEST_F(TraceExportsTest, FailureReportsFollowTheThreshold) {
    const struct {
        int32_t level;
        bool written;
    } rows[] = {{INT32_MIN, true}, {2, true}, {3, false}, {INT32_MAX, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.level);
        const std::string url = RefusedUrl();
        ZEMUser_SetTraceFile(path.c_str());
        ZEMUser_SetTraceLevel(row.level);
        RefusedRequest(url);
        const std::string trace = ReadFileBytes(path);
        if (row.written) {
            EXPECT_EQ(trace.rfind("[ " + url + " ] ", 0), 0u) << trace;
        } else {
            EXPECT_EQ(trace, "");
        }
    }
}

// A thread of this process kept busy must raise both readings above zero within a generous
// time; every reading on the way is a percentage.
TEST(CpuUsageExportTest, ABusyThreadRaisesBothReadings) {
    std::atomic<bool> stop{false};
    std::thread spinner([&stop] {
        volatile std::uint64_t spins = 0;
        while (!stop.load(std::memory_order_relaxed)) spins = spins + 1;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    int32_t process = 0;
    int32_t system = 0;
    bool percentages = true;
    while ((process <= 0 || system <= 0) && std::chrono::steady_clock::now() < deadline) {
        system = GetCPUUsage(&process);
        percentages = percentages && system >= 0 && system <= 100 && process >= 0 && process <= 100;
        std::this_thread::yield();
    }
    const int32_t withoutProcess = GetCPUUsage(nullptr);
    stop = true;
    spinner.join();
    EXPECT_TRUE(percentages);
    EXPECT_GT(process, 0);
    EXPECT_GT(system, 0);
    EXPECT_GT(withoutProcess, 0);
    EXPECT_LE(withoutProcess, 100);
}

}  // namespace
