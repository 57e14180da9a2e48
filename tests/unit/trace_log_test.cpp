// The trace log's threshold and the cut of overlong lines.
#include "diag/trace_log.h"

#include <gtest/gtest.h>

#include <string>

#include "support/real_servers.h"

namespace {

using namespace zemuser;
using testing_support::ReadFileBytes;
using testing_support::TempDir;

// Each row traces an error line (level 2) and a progress line (level 0).
TEST(TraceLog, ThresholdAndFile) {
    const struct {
        const char* name;
        std::int32_t threshold;
        bool fileFirst;  // the file is named before the lines, else after them
        const char* expected;
    } rows[] = {{"threshold 0 writes both", 0, true, "error\nprogress\n"},
                {"threshold 2 writes errors only", 2, true, "error\n"},
                {"threshold 3 writes nothing", 3, true, ""},
                {"nothing before a file is named", -5, false, ""}};
    TempDir dir;
    const std::string path = dir.File("trace.txt");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TraceLog::Instance().SetFile(row.fileFirst ? path.c_str() : nullptr);
        TraceLog::Instance().SetLevel(row.threshold);
        TraceWrite(2, "error\n");
        TraceWrite(0, "progress\n");
        if (!row.fileFirst) TraceLog::Instance().SetFile(path.c_str());
        EXPECT_EQ(ReadFileBytes(path), row.expected);
    }
    // An overlong line is cut to 2047 characters and keeps its line end.
    TraceLog::Instance().SetFile(path.c_str());
    TraceLog::Instance().SetLevel(0);
    TraceWrite(0, "%s\n", std::string(5000, 'u').c_str());
    TraceWrite(0, "next\n");
    EXPECT_EQ(ReadFileBytes(path), std::string(2046, 'u') + "\nnext\n");
    TraceLog::Instance().SetFile(nullptr);
}

}  // namespace
