// File downloads through both URL download exports: what is stored, replaced or left behind,
// the name a server announces (cut to the host's buffer, never leaving the folder), and wide
// paths.
#include <map>

#include "api_support.h"

namespace {

using namespace api_testing;
using Files = std::map<std::string, std::string>;

std::string Disposition(const std::string& value) {
    return "Content-Disposition: " + value;
}

struct DownloadRow {
    const char* name;
    std::string answer;
    bool intoFolder;      // the target is the folder "in", else the file "in/t.bin"
    Files after;          // every file below the root afterwards, with its content
    std::string nameOut;  // what ZEMNormalDownloadFile hands out (64 bytes, zero-padded)
    int32_t result = 1;
    const char* before = nullptr;  // the target's content before, if it exists
    bool targetIsLink = false;     // the target is a link to a file outside the root
};

TEST(FileDownloads, StoredReplacedOrLeftAlone) {
    const std::string body = PatternText(5000, 11);
    const std::string report = Disposition("attachment; filename=\"report.txt\"");
    const std::string cut = "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + body;
    auto named = [&](const std::string& value) {
        return HttpResponse(200, "n", {Disposition(value)});
    };
    const DownloadRow rows[] = {
        {"new file", HttpResponse(200, body), false, {{"in/t.bin", body}}, ""},
        {"old file replaced", HttpResponse(200, body), false, {{"in/t.bin", body}}, "", 1, "old"},
        {"link replaced, not written through",
         HttpResponse(200, "new"),
         false,
         {{"in/t.bin", "new"}},
         "",
         1,
         nullptr,
         true},
        {"error status", HttpResponse(404, body), false, {}, "", 0},
        {"error status keeps the old file",
         HttpResponse(404, body),
         false,
         {{"in/t.bin", "old"}},
         "",
         0,
         "old"},
        {"empty body", HttpResponse(200, ""), false, {}, "", 0},
        {"dropped mid-body", cut, false, {}, "", 0},
        {"dropped mid-body keeps the old file", cut, false, {{"in/t.bin", "old"}}, "", 0, "old"},
        {"announced name",
         HttpResponse(200, body, {report}),
         true,
         {{"in/report.txt", body}},
         "report.txt"},
        {"no blank, blanks trimmed",
         named("attachment;filename=  \"q.txt\""),
         true,
         {{"in/q.txt", "n"}},
         "q.txt"},
        {"everything after the first =",
         named("attachment; filename=a.txt; size=10"),
         true,
         {{"in/a.txt; size=10", "n"}},
         "a.txt; size=10"},
        {"no parameter", named("inline"), true, {{"in/unknown", "n"}}, ""},
        {"no header", HttpResponse(200, "n"), true, {{"in/unknown", "n"}}, ""},
        {"parent folder",
         named("attachment; filename=\"../escape.txt\""),
         true,
         {{"in/escape.txt", "n"}},
         "escape.txt"},
        {"climbing path",
         named("attachment; filename=\"sub/../../up.txt\""),
         true,
         {{"in/up.txt", "n"}},
         "up.txt"},
        {"absolute path", named("attachment; filename=\"/etc/x\""), true, {{"in/x", "n"}}, "x"},
        {"backslash", named("attachment; filename=\"a\\b\""), true, {{"in/b", "n"}}, "b"},
        {"control character",
         named("attachment; filename=\"ctl\x01name.txt\""),
         true,
         {{"in/ctlname.txt", "n"}},
         "ctlname.txt"},
        {"parent folder alone",
         named("attachment; filename=\"..\""),
         true,
         {{"in/unknown", "n"}},
         ""},
        {"leading dot",
         named("attachment; filename=.profile"),
         true,
         {{"in/profile", "n"}},
         "profile"},
        {"leading dots",
         named("attachment; filename=..bashrc"),
         true,
         {{"in/bashrc", "n"}},
         "bashrc"},
        {"dots alone", named("attachment; filename=..."), true, {{"in/unknown", "n"}}, ""},
    };
    const PostFields fields{{"z", "26"}, {"a", "1"}};
    for (const DownloadRow& row : rows) {
        ScriptedServer server(Answer(row.answer));
        OwnedHandle handle = BeginHandle();
        for (bool normal : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (normal ? " / normal" : " / url"));
            TempDir root, outside;
            fs::create_directories(root.File("in"));
            const std::string target = root.File(row.intoFolder ? "in" : "in/t.bin");
            if (row.before != nullptr) WriteFileBytes(target, row.before);
            if (row.targetIsLink) fs::create_symlink(outside.File("victim"), target);
            std::string name(64, '#');
            EXPECT_EQ(normal ? ZEMNormalDownloadFile(handle.get(), server.url().c_str(), &fields,
                                                     target.c_str(), &name[0], 64)
                             : ZEMUrlTransferFile(handle.get(), server.url().c_str(), &fields,
                                                  target.c_str(), 0),
                      row.result);
            Files after;
            for (const std::string& file : FilesBelow(root.path())) {
                after[file] = ReadFileBytes(root.File(file));
            }
            EXPECT_EQ(after, row.after);
            EXPECT_TRUE(fs::is_empty(outside.path()));
            if (normal && row.result == 1) {
                EXPECT_EQ(name, row.nameOut + std::string(64 - row.nameOut.size(), '\0'));
            }
        }
    }
}

// The trace of each download export, and the name cut to the host's buffer: zero-padded when
// shorter, without a terminator when not, never written for a size of 0.
TEST(FileDownloads, TraceLinesAndNameCutToTheBuffer) {
    ScriptedServer server(
        Answer(HttpResponse(200, "report", {Disposition("attachment; filename=\"report.txt\"")})));
    ScriptedServer missing(Answer(HttpResponse(404, "missing")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("chosen.txt");
    const struct {
        const char* name;
        const ScriptedServer& server;
        int32_t size, result;
        std::string nameOut, trace;
    } rows[] = {
        {"64 bytes", server, 64, 1, "report.txt" + std::string(54, '\0') + "##",
         "ZEMNormalDownloadFile QueryResult: 200\nZEMNormalDownloadFile Result: 1\n"},
        {"4 bytes", server, 4, 1, "repo" + std::string(62, '#'), ""},
        {"no size", server, 0, 1, std::string(66, '#'), ""},
        {"error status", missing, 8, 0, std::string(1, '\0') + std::string(65, '#'),
         "ZEMNormalDownloadFile QueryResult: 404\nZEMNormalDownloadFile Result: 0\n"},
        {"url export", server, -1, 1, std::string(66, '#'),
         "ZEMUrlDownloadFile QueryResult: 200\nZEMUrlDownloadFile Result: 1\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string url = row.server.url();
        TraceFile trace;
        std::string name(66, '#');
        EXPECT_EQ(row.size < 0
                      ? ZEMUrlTransferFile(handle.get(), url.c_str(), nullptr, path.c_str(), 0)
                      : ZEMNormalDownloadFile(handle.get(), url.c_str(), nullptr, path.c_str(),
                                              &name[0], row.size),
                  row.result);
        EXPECT_EQ(name, row.nameOut);
        if (!row.trace.empty()) {
            EXPECT_EQ(trace.Text(),
                      "ZEMUrlDownloadFile Begin: " + url + ", " + path + "\n" + row.trace);
        }
    }
    EXPECT_EQ(ReadFileBytes(path), "report");
}

// Wide local paths are UTF-16; on disk, in the trace and in the upload's part they are UTF-8.
TEST(FileDownloads, WidePaths) {
    ScriptedServer server([](ScriptedConnection& connection) {
        const ParsedRequest request = ParseRequest(connection.ReadRequest());
        connection.Send(
            request.body.find("file1") != std::string::npos
                ? HttpResponse(200, "OK")
                : HttpResponse(200, "wide",
                               {Disposition("attachment; filename=\"r\xC3\xA9.txt\"")}));
    });
    OwnedHandle handle = BeginHandle();
    TempDir root;
    const std::string url = server.url();
    const std::string file = root.path() +
                             "/donn\xC3\xA9"
                             "es_\xE6\x97\xA5.bin";
    const std::u16string wideFile = Widen(root.path()) + u"/donn\u00e9es_\u65e5.bin";
    const std::string folder = root.path() + "/dossier_\xC3\xA9";
    const std::u16string wideFolder = Widen(root.path()) + u"/dossier_\u00e9";
    fs::create_directories(fs::u8path(folder));
    TraceFile trace;
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), nullptr, wideFile.c_str(), 0), 1);
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), nullptr, wideFolder.c_str(), 0), 1);
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), nullptr, wideFile.c_str(), 1), 1);
    EXPECT_EQ(ReadFileBytes(file), "wide");
    EXPECT_EQ(ReadFileBytes(folder + "/r\xC3\xA9.txt"), "wide");
    const std::string content = "wide";
    EXPECT_EQ(Requests(server).at(2).body,
              TextPart("file_num", "1") + FilePart("file1", file, &content) + ClosingDelimiter());
    EXPECT_EQ(trace.Text(), "ZEMUrlDownloadFile Begin: " + url + ", " + file +
                                "\nZEMUrlDownloadFile QueryResult: 200\nZEMUrlDownloadFile "
                                "Result: 1\nZEMUrlDownloadFile Begin: " +
                                url + ", " + folder +
                                "\nZEMUrlDownloadFile QueryResult: 200\nZEMUrlDownloadFile "
                                "Result: 1\nZEMUrlUploadFile Begin: " +
                                url + ", " + file + "\nZEMUrlUploadFile Result: OK\n");
}

}  // namespace
