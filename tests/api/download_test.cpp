// File downloads through the three URL download exports: what is stored, replaced or left
// behind, the name a server announces (cut to the host's buffer, never leaving the folder),
// the trace, and wide paths (UTF-16 in, UTF-8 on disk and in the trace).
#include <map>

#include "api_support.h"

namespace {

using namespace api_testing;
using Files = std::map<std::string, std::string>;

enum class Export { Url, Normal, Wide };
const char* const kExportNames[] = {"url", "normal", "wide"};

// A root holding the folder "in_é", the target folder or file of every download.
struct Target {
    TempDir root;
    std::string folder = root.path() + "/in_\xC3\xA9";
    std::u16string wideFolder = Widen(root.path()) + u"/in_\u00e9";
    Target() { fs::create_directories(fs::u8path(folder)); }

    // Downloads into the folder, or into its file "t.bin" when `intoFile`; `name` gets what
    // ZEMNormalDownloadFile hands out (its size + 2 bytes, '#' before).
    int32_t Download(Export call, const std::string& url, bool intoFile, std::string* name,
                     int32_t nameSize = 64) {
        const std::string path = folder + (intoFile ? "/t.bin" : "");
        const std::u16string wide = wideFolder + (intoFile ? u"/t.bin" : u"");
        const PostFields fields{{"z", "26"}, {"a", "1"}};
        name->assign(static_cast<std::size_t>(nameSize) + 2, '#');
        OwnedHandle handle = BeginHandle();
        return call == Export::Url
                   ? ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, path.c_str(), 0)
               : call == Export::Wide
                   ? ZEMUrlTransferFileW(handle.get(), url.c_str(), &fields, wide.c_str(), 0)
                   : ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields, path.c_str(),
                                           &(*name)[0], nameSize);
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
        {"link replaced, not written through",
         HttpResponse(200, "new"),
         1,
         {{t, "new"}},
         nullptr,
         true},
        {"error status", HttpResponse(404, body), 0, {}},
        {"error status keeps the old file", HttpResponse(404, body), 0, {{t, "old"}}, "old"},
        {"empty body", HttpResponse(200, ""), 0, {}},
        {"dropped mid-body", cut, 0, {}},
        {"dropped mid-body keeps the old file", cut, 0, {{t, "old"}}, "old"},
    };
    for (const auto& row : rows) {
        ScriptedServer server(Answer(row.answer));
        for (Export call : {Export::Url, Export::Normal, Export::Wide}) {
            SCOPED_TRACE(std::string(row.name) + " / " + kExportNames[static_cast<int>(call)]);
            Target target;
            TempDir outside;
            const std::string path = target.folder + "/t.bin";
            if (row.before != nullptr) WriteFileBytes(path, row.before);
            if (row.targetIsLink) fs::create_symlink(outside.File("victim"), fs::u8path(path));
            std::string name;
            EXPECT_EQ(target.Download(call, server.url(), true, &name), row.result);
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
        {"attachment; filename=\"report.txt\"", "report.txt"},
        {"attachment;filename=  \"q.txt\"", "q.txt"},
        {"attachment; filename=a.txt; size=10", "a.txt; size=10"},
        {"attachment; filename=\"na\xC3\xAFve.txt\"", "na\xC3\xAFve.txt"},
        {"inline", ""},
        {"attachment; name", ""},
        {"attachment; filename=\"../escape.txt\"", "escape.txt"},
        {"attachment; filename=\"sub/../../up.txt\"", "up.txt"},
        {"attachment; filename=\"/etc/x\"", "x"},
        {"attachment; filename=\"a\\b\"", "b"},
        {"attachment; filename=\"ctl\x01name.txt\"", "ctlname.txt"},
        {"attachment; filename=\"..\"", ""},
        {"attachment; filename=.profile", "profile"},
        {"attachment; filename=..bashrc", "bashrc"},
        {"attachment; filename=...", ""},
    };
    for (const auto& [disposition, stored] : rows) {
        ScriptedServer server(
            Answer(HttpResponse(200, "n", {"Content-Disposition: " + disposition})));
        for (Export call : {Export::Url, Export::Normal, Export::Wide}) {
            SCOPED_TRACE(disposition + " / " + kExportNames[static_cast<int>(call)]);
            Target target;
            std::string name;
            EXPECT_EQ(target.Download(call, server.url(), false, &name), 1);
            EXPECT_EQ(target.After(),
                      Files({{"in_\xC3\xA9/" + (stored.empty() ? "unknown" : stored), "n"}}));
            if (call == Export::Normal) {
                EXPECT_EQ(name, stored + std::string(64 - stored.size(), '\0') + "##");
            }
        }
    }
}

// The trace of each export, and the name cut to the host's buffer: zero-padded when shorter,
// without a terminator when not, never written for a size of 0, cleared on failure.
TEST(FileDownloads, TraceLinesAndNameCutToTheBuffer) {
    ScriptedServer server(
        Answer(HttpResponse(200, "r", {"Content-Disposition: attachment; filename=report.txt"})));
    ScriptedServer missing(Answer(HttpResponse(404, "missing")));
    const std::string begin = "ZEMUrlDownloadFile Begin: {url}, {path}\n";
    const struct {
        const char* name;
        Export call;
        const ScriptedServer& server;
        int32_t nameSize, result;
        std::string nameOut, trace;
    } rows[] = {
        {"normal", Export::Normal, server, 64, 1, "report.txt" + std::string(54, '\0') + "##",
         begin + "ZEMNormalDownloadFile QueryResult: 200\nZEMNormalDownloadFile Result: 1\n"},
        {"name cut to 4", Export::Normal, server, 4, 1, "repo##", ""},
        {"no name size", Export::Normal, server, 0, 1, "##", ""},
        {"error status", Export::Normal, missing, 8, 0, std::string(1, '\0') + std::string(9, '#'),
         begin + "ZEMNormalDownloadFile QueryResult: 404\nZEMNormalDownloadFile Result: 0\n"},
        {"url", Export::Url, server, 0, 1, "##",
         begin + "ZEMUrlDownloadFile QueryResult: 200\nZEMUrlDownloadFile Result: 1\n"},
        {"wide", Export::Wide, server, 0, 1, "##",
         begin + "ZEMUrlDownloadFile QueryResult: 200\nZEMUrlDownloadFile Result: 1\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Target target;
        TraceFile trace;
        std::string name;
        EXPECT_EQ(target.Download(row.call, row.server.url(), true, &name, row.nameSize),
                  row.result);
        EXPECT_EQ(name, row.nameOut);
        if (!row.trace.empty()) {
            EXPECT_EQ(trace.Text(), Replaced(WithUrl(row.trace, row.server.url()), "{path}",
                                             target.folder + "/t.bin"));
        }
    }
}

}  // namespace
