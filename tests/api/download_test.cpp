// The three URL download exports: what is stored, replaced or left behind, announced names
// (cut to the host's buffer, kept in the folder), the trace, wide paths (UTF-8 on disk).
#include <map>

#include "api_support.h"

namespace {

using Files = std::map<std::string, std::string>;

// A root holding the folder "in_é", the target folder or file of every download.
struct Target {
    TempDir root;
    std::string folder = root.path() + "/in_\xC3\xA9";
    std::u16string wideFolder = Widen(root.path()) + u"/in_\u00e9";
    Target() { fs::create_directories(fs::u8path(folder)); }

    // Downloads into the folder, or into its file "t.bin"; the outcome's buffer is what
    // ZEMNormalDownloadFile hands out.
    Outcome Download(Call call, const std::string& url, bool intoFile, int32_t nameSize = 64) {
        OwnedHandle handle = BeginHandle();
        return Perform(call, handle.get(), url.c_str(), nameSize,
                       folder + (intoFile ? "/t.bin" : ""),
                       wideFolder + (intoFile ? u"/t.bin" : u""));
    }
    Files After() const {
        Files after;
        for (const std::string& file : FilesBelow(root.path())) {
            after[file] = ReadFileBytes(root.File(file));
        }
        return after;
    }
};

TEST(FileDownloads, StoredReplacedOrLeftAlone) {
    const std::string body = PatternText(5000, 11), t = "in_\xC3\xA9/t.bin";
    const std::string cut = "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + body;
    const struct {
        const char* name;
        std::string answer;
        int32_t result;
        Files after;
        const char* before = nullptr;  // the target's content before, if it exists
        bool targetIsLink = false;     // the target is a link to a file outside the root
    } rows[] = {
        {"new file", HttpResponse(200, body), 1, {{t, body}}},
        {"old file replaced", HttpResponse(200, body), 1, {{t, body}}, "old"},
        {"link replaced", HttpResponse(200, "new"), 1, {{t, "new"}}, nullptr, true},
        {"error status keeps the old file", HttpResponse(404, body), 0, {{t, "old"}}, "old"},
        {"empty body", HttpResponse(200, ""), 0, {}},
        {"dropped mid-body keeps the old file", cut, 0, {{t, "old"}}, "old"},
    };
    for (const auto& row : rows) {
        ScriptedServer server(Answer(row.answer));
        for (Call call : {Url, Named, UrlW}) {
            SCOPED_TRACE(std::string(row.name) + " / " + Name(call));
            Target target;
            TempDir outside;
            const std::string path = target.folder + "/t.bin";
            if (row.before != nullptr) WriteFileBytes(path, row.before);
            if (row.targetIsLink) fs::create_symlink(outside.File("victim"), fs::u8path(path));
            EXPECT_EQ(target.Download(call, server.url(), true).result, row.result);
            EXPECT_EQ(target.After(), row.after);
            EXPECT_TRUE(fs::is_empty(outside.path()));
        }
    }
}

// The name is everything after the first "=" that follows the first ";", trimmed, reduced to a
// plain file name without leading dots; without one the file is "unknown" and the host gets
// no name.
TEST(FileDownloads, AnnouncedNamesStayInTheFolder) {
    const std::pair<std::string, std::string> rows[] = {
        {"attachment;filename=  \"q.txt\"", "q.txt"},
        {"attachment; filename=a.txt; size=10", "a.txt; size=10"},
        {"attachment; filename=\"na\xC3\xAFve.txt\"", "na\xC3\xAFve.txt"},
        {"inline", ""},
        {"attachment; name", ""},
        {"attachment; filename=\"sub/../../up.txt\"", "up.txt"},
        {"attachment; filename=\"a\\b\"", "b"},
        {"attachment; filename=\"ctl\x01name.txt\"", "ctlname.txt"},
        {"attachment; filename=..bashrc", "bashrc"},
        {"attachment; filename=...", ""},
    };
    for (const auto& [disposition, stored] : rows) {
        ScriptedServer server(
            Answer(HttpResponse(200, "n", {"Content-Disposition: " + disposition})));
        for (Call call : {Url, Named, UrlW}) {
            SCOPED_TRACE(disposition + " / " + Name(call));
            Target target;
            const Outcome out = target.Download(call, server.url(), false);
            EXPECT_EQ(out.result, 1);
            EXPECT_EQ(target.After(),
                      Files({{"in_\xC3\xA9/" + (stored.empty() ? "unknown" : stored), "n"}}));
            if (call == Named) {
                EXPECT_EQ(out.buffer, stored + std::string(64 - stored.size(), '\0') + "##");
            }
        }
    }
}

// The trace of each export, and the name cut to the host's buffer: zero-padded when shorter,
// without a terminator when not, never written for a size of 0, cleared on failure.
TEST(FileDownloads, TraceLinesAndNameCutToTheBuffer) {
    ScriptedServer server(
        Answer(HttpResponse(200, "r", {"Content-Disposition: attachment; filename=report.txt"})));
    ScriptedServer missing(Answer(HttpResponse(404, "missing"))),
        unnamed(Answer(HttpResponse(200, "r")));
    const std::string begin = "ZEMUrlDownloadFile Begin: {url}, {path}\n";
    const struct {
        const char* name;
        Call call;
        const ScriptedServer& server;
        int32_t nameSize, result;
        std::string nameOut, trace;
    } rows[] = {
        {"normal", Named, server, 64, 1, "report.txt" + std::string(54, '\0') + "##",
         begin + "ZEMNormalDownloadFile QueryResult: 200\nZEMNormalDownloadFile Result: 1\n"},
        {"name cut to 4", Named, server, 4, 1, "repo##", ""},
        {"no name size", Named, server, 0, 1, "##", ""},
        {"error status", Named, missing, 8, 0, std::string(1, '\0') + std::string(9, '#'),
         begin + "ZEMNormalDownloadFile QueryResult: 404\nZEMNormalDownloadFile Result: 0\n"},
        {"no name announced", Named, unnamed, 2, 1, std::string(2, '\0') + "##",
         begin +
             "ZEMNormalDownloadFile QueryResult: 200\n[ {url} ] query content-disposition failed"
             "...\n[12150, 0x00002f76] The answer carries no header of that kind.\r\n\n"
             "ZEMNormalDownloadFile Result: 1\n"},
        {"wide", UrlW, server, 0, 1, "##",
         begin + "ZEMUrlDownloadFile QueryResult: 200\nZEMUrlDownloadFile Result: 1\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Target target;
        TraceFile trace;
        const Outcome out = target.Download(row.call, row.server.url(), true, row.nameSize);
        EXPECT_EQ(out.result, row.result);
        EXPECT_EQ(out.buffer, row.nameOut);
        if (!row.trace.empty()) {
            EXPECT_EQ(trace.Text(), Replaced(Replaced(row.trace, "{url}", row.server.url()),
                                             "{path}", target.folder + "/t.bin"));
        }
    }
}

}  // namespace
