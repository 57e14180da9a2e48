// The trace log's rules: the threshold, opening and closing files, the cut of long lines, and
// whole lines from concurrent writers.
#include "diag/trace_log.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
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

// One step on a fresh log: name a file (null: close; "": the empty path; else a file of the
// test's folder), set the threshold, or write a line at a level.
struct Step {
    enum { File, Level, Line } kind;
    const char* text;
    std::int32_t level = 0;
};

TEST(TraceLog, Rules) {
    const std::string overlong(5000, 'u');
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string expected;  // trace.txt at the end
    } rows[] = {
        // clang-format off
        {"threshold 0 writes both levels",
         {{Step::File, "trace.txt"}, {Step::Line, "e", 2}, {Step::Line, "p", 0}}, "e\np\n"},
        {"a negative threshold writes both", {{Step::File, "trace.txt"}, {Step::Level, "", INT_MIN},
         {Step::Line, "e", 2}, {Step::Line, "p", 0}}, "e\np\n"},
        {"threshold 2 writes errors only", {{Step::File, "trace.txt"}, {Step::Level, "", 2},
         {Step::Line, "e", 2}, {Step::Line, "p", 0}}, "e\n"},
        {"threshold 3 writes nothing",
         {{Step::File, "trace.txt"}, {Step::Level, "", 3}, {Step::Line, "e", 2}}, ""},
        {"nothing before a file is named",
         {{Step::Level, "", -5}, {Step::Line, "lost", 2}, {Step::File, "trace.txt"}}, ""},
        {"null closes; naming the file again starts it empty", {{Step::File, "trace.txt"},
         {Step::Line, "first"}, {Step::File, nullptr}, {Step::Line, "closed"},
         {Step::File, "trace.txt"}, {Step::Line, "second"}}, "second\n"},
        {"an empty path closes and traces nowhere", {{Step::File, "trace.txt"},
         {Step::Line, "kept"}, {Step::File, ""}, {Step::Line, "dropped", 2}}, "kept\n"},
        {"an unopenable path closes and traces nowhere", {{Step::File, "trace.txt"},
         {Step::Line, "kept"}, {Step::File, "no/such/file"}, {Step::Line, "dropped", 2}}, "kept\n"},
        {"an overlong line is cut to 2047 characters with its line end", {{Step::File, "trace.txt"},
         {Step::Line, overlong.c_str()}, {Step::Line, "next"}}, std::string(2046, 'u') + "\nnext\n"},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        WriteFileBytes(dir.File("trace.txt"), "");
        TraceLog log;
        for (const Step& step : row.steps) {
            if (step.kind == Step::File) {
                const std::string path =
                    step.text == nullptr || *step.text == '\0' ? "" : dir.File(step.text);
                log.SetFile(step.text == nullptr ? nullptr : path.c_str());
            } else if (step.kind == Step::Level) {
                log.SetLevel(step.level);
            } else {
                WriteLine(log, step.level, "%s\n", step.text);
            }
        }
        EXPECT_EQ(ReadFileBytes(dir.File("trace.txt")), row.expected);
        log.SetFile(nullptr);
    }
}

TEST(TraceLog, ConcurrentLinesStayWhole) {
    TempDir dir;
    TraceLog log;
    log.SetFile(dir.File("trace.txt").c_str());
    constexpr int kThreads = 8, kLines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            const std::string body(300 + t * 50, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) WriteLine(log, 0, "%d %s\n", t, body.c_str());
        });
    }
    // The threshold changes meanwhile; both values let every line through.
    for (int i = 0; i < 1000; ++i) log.SetLevel(-(i % 2));
    for (std::thread& writer : writers) writer.join();
    std::istringstream lines(ReadFileBytes(dir.File("trace.txt")));
    std::vector<int> counts(kThreads, 0);
    for (std::string line; std::getline(lines, line);) {
        const int t = line[0] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << line.substr(0, 40);
        ASSERT_EQ(line, std::to_string(t) + " " + std::string(300 + t * 50, 'a' + t));
        ++counts[t];
    }
    EXPECT_EQ(counts, std::vector<int>(kThreads, kLines));
    log.SetFile(nullptr);
}

}  // namespace
