#include "diag/trace_log.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/real_servers.h"

namespace {

using namespace zemuser;

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

void WriteLine(TraceLog& log, int32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void WriteLine(TraceLog& log, int32_t level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    log.Write(level, format, args);
    va_end(args);
}

// Each test gets a fresh log, as the library's is at load, and never leaves a file open.
class TraceLogTest : public ::testing::Test {
  protected:
    ~TraceLogTest() override { log.SetFile(nullptr); }

    TempDir dir;
    std::string path = dir.File("trace.txt");
    TraceLog log;
};

TEST_F(TraceLogTest, ThresholdDecidesWhichLevelsAreWritten) {
    struct Case {
        int32_t threshold;
        bool errorLineWritten;     // level 2
        bool progressLineWritten;  // level 0
    };
    const Case cases[] = {{INT32_MIN, true, true}, {-5, true, true},  {0, true, true},
                          {2, true, false},        {3, false, false}, {INT32_MAX, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threshold);
        log.SetFile(path.c_str());
        log.SetLevel(c.threshold);
        WriteLine(log, 2, "ZEMUrlUploadFile Failed\n");
        WriteLine(log, 0, "ZEMKIVUploadFile Failed.\n");
        std::string expected;
        if (c.errorLineWritten) expected += "ZEMUrlUploadFile Failed\n";
        if (c.progressLineWritten) expected += "ZEMKIVUploadFile Failed.\n";
        EXPECT_EQ(ReadFileBytes(path), expected);
    }
}

TEST_F(TraceLogTest, NothingIsWrittenBeforeAFileIsNamed) {
    WriteLine(log, 2, "lost %d\n", 1);
    log.SetLevel(-5);
    WriteLine(log, 0, "lost %d\n", 2);
    log.SetFile(path.c_str());
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST_F(TraceLogTest, NullPathClosesAndALaterPathStartsEmpty) {
    log.SetFile(path.c_str());
    WriteLine(log, 0, "first\n");
    log.SetFile(nullptr);
    WriteLine(log, 2, "while closed\n");
    EXPECT_EQ(ReadFileBytes(path), "first\n");

    log.SetFile(path.c_str());
    EXPECT_EQ(ReadFileBytes(path), "");
    WriteLine(log, 0, "second\n");
    EXPECT_EQ(ReadFileBytes(path), "second\n");
}

TEST_F(TraceLogTest, ReopeningTheSamePathTruncates) {
    WriteFileBytes(path, "left over from an earlier run\n");
    log.SetFile(path.c_str());
    EXPECT_EQ(ReadFileBytes(path), "");
    WriteLine(log, 0, "period one\n");
    log.SetFile(path.c_str());
    WriteLine(log, 0, "period two\n");
    EXPECT_EQ(ReadFileBytes(path), "period two\n");
}

TEST_F(TraceLogTest, PathThatCannotBeOpenedLeavesTracingOff) {
    const std::string other = dir.File("other.txt");
    for (const std::string& bad : {std::string(), dir.File("missing/trace.txt")}) {
        SCOPED_TRACE(bad);
        log.SetFile(path.c_str());
        WriteLine(log, 0, "kept\n");
        log.SetFile(bad.c_str());  // closes the open file first
        WriteLine(log, 2, "dropped\n");
        EXPECT_EQ(ReadFileBytes(path), "kept\n");
    }
    log.SetFile(other.c_str());
    WriteLine(log, 0, "back on\n");
    EXPECT_EQ(ReadFileBytes(other), "back on\n");
}

TEST_F(TraceLogTest, OverlongLineIsCutAt2047Characters) {
    log.SetFile(path.c_str());
    const std::string url(5000, 'u');
    WriteLine(log, 0, "ZEMUrlDownloadFile Begin: %s, %s\n", url.c_str(), "/tmp/x");
    WriteLine(log, 0, "next\n");
    const std::string prefix = "ZEMUrlDownloadFile Begin: ";
    // 2046 characters of the line and its line end: the next line starts on its own.
    EXPECT_EQ(ReadFileBytes(path), prefix + std::string(2046 - prefix.size(), 'u') + "\nnext\n");
}

TEST_F(TraceLogTest, ConcurrentLinesNeverInterleaveWithinALine) {
    log.SetFile(path.c_str());
    constexpr int kThreads = 8;
    constexpr int kLinesPerThread = 200;
    std::vector<std::string> bodies;
    for (int t = 0; t < kThreads; ++t) {
        bodies.push_back(std::string(300 + t * 50, static_cast<char>('a' + t)));
    }
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLinesPerThread; ++i) {
                WriteLine(log, 0, "%d %s\n", t, bodies[t].c_str());
            }
        });
    }
    // Threshold changes while lines are written (both values let every line through).
    std::thread leveller([&] {
        for (int i = 0; i < 1000; ++i) log.SetLevel(-(i % 2));
    });
    for (std::thread& writer : writers) writer.join();
    leveller.join();

    std::istringstream lines(ReadFileBytes(path));
    std::vector<int> counts(kThreads, 0);
    std::string line;
    while (std::getline(lines, line)) {
        const int t = line[0] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 40);
        ASSERT_EQ(line, std::to_string(t) + " " + bodies[t]);
        ++counts[t];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(counts[t], kLinesPerThread) << t;
}

}  // namespace
