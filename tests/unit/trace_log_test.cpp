// The trace log's rules: the threshold, opening and closing files, the cut of long lines.
#include "diag/trace_log.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "support/real_servers.h"

namespace {

using namespace zemuser;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// One step: name a file (null: close; else a file of the test's folder), set the threshold,
// or trace a line at a level.
struct Step {
    enum { File, Level, Line } kind;
    const char* text;
    std::int32_t level = 0;
};

TEST(TraceLog, Rules) {
    const std::string overlong(5000, 'u');
    const auto File = Step::File, Level = Step::Level, Line = Step::Line;
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string expected;  // trace.txt at the end
    } rows[] = {
        // clang-format off
        {"threshold 0 writes both levels", {{File, "trace.txt"}, {Line, "e", 2}, {Line, "p"}}, "e\np\n"},
        {"the lowest threshold writes both",
         {{File, "trace.txt"}, {Level, "", INT_MIN}, {Line, "e", 2}, {Line, "p"}}, "e\np\n"},
        {"threshold 2 writes errors only",
         {{File, "trace.txt"}, {Level, "", 2}, {Line, "e", 2}, {Line, "p"}}, "e\n"},
        {"nothing before a file is named", {{Level, "", -5}, {Line, "lost", 2}, {File, "trace.txt"}}, ""},
        {"null closes; naming the file again starts it empty", {{File, "trace.txt"}, {Line, "first"},
         {File, nullptr}, {Line, "closed"}, {File, "trace.txt"}, {Line, "second"}}, "second\n"},
        {"an overlong line is cut to 2047 characters with its line end",
         {{File, "trace.txt"}, {Line, overlong.c_str()}, {Line, "next"}}, std::string(2046, 'u') + "\nnext\n"},
        // clang-format on
    };
    TraceLog& log = TraceLog::Instance();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        WriteFileBytes(dir.File("trace.txt"), "");
        log.SetFile(nullptr);
        log.SetLevel(0);
        for (const Step& step : row.steps) {
            const std::string path = dir.File(step.text ? step.text : "");
            if (step.kind == File) log.SetFile(step.text ? path.c_str() : nullptr);
            if (step.kind == Level) log.SetLevel(step.level);
            if (step.kind == Line) TraceWrite(step.level, "%s\n", step.text);
        }
        EXPECT_EQ(ReadFileBytes(dir.File("trace.txt")), row.expected);
    }
    log.SetFile(nullptr);
    log.SetLevel(0);
}

}  // namespace
