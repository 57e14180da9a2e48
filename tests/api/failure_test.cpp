// What each export gives and traces when it fails before or while sending: another scheme or a
// bad URL, a refused connection, a file that cannot be created; the trace threshold's rules; and
// the trace file's own switches.
#include <climits>

#include "api_support.h"

namespace {

using namespace api_testing;

constexpr const char* kNull = "<null>";  // the URL row that passes a null pointer

// Every export, with whatever it must leave alone on failure (status 0, the host's buffer and
// out-parameters as they were, no file) reported through `untouched`.
struct Exports {
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    std::string file = folder.File("up.bin"), got = folder.File("got.bin");
    bool untouched = false;
    Exports() { WriteFileBytes(file, "content"); }

    using Call = std::function<int32_t(Exports&, const char* url)>;
    static int32_t Buffered(Exports& e, int which, const char* url) {
        std::string buffer(18, '#');
        int32_t status = 77;
        const PostFields fields{{"k", "v"}};
        const int32_t result = which == 0 ? ZEMUrlGet(url, &status, &buffer[0], 16, nullptr)
                               : which == 1
                                   ? ZEMUrlGet2(url, &status, &buffer[0], 16, nullptr)
                                   : ZEMUrlPost(url, &fields, &status, &buffer[0], 16, nullptr);
        e.untouched = status == 0 && buffer == std::string(18, '#');
        return result;
    }
    static int32_t Handed(Exports& e, bool post, const char* url) {
        int32_t status = 77, length = 55;
        char marker = 0;
        char* raw = &marker;
        const int32_t result = post ? ZEMUrlPost3(url, nullptr, &status, &raw, &length, nullptr)
                                    : ZEMUrlGet3(url, &status, &raw, &length, nullptr);
        e.untouched = status == 0 && length == 55 && raw == &marker;
        return result;
    }
    int32_t Filed(int32_t result) {
        untouched = FilesBelow(folder.path()) == std::set<std::string>{"up.bin"};
        return result;
    }
};

const Exports::Call kGet = [](Exports& e, const char* u) { return Exports::Buffered(e, 0, u); };
const Exports::Call kGet2 = [](Exports& e, const char* u) { return Exports::Buffered(e, 1, u); };
const Exports::Call kGet3 = [](Exports& e, const char* u) { return Exports::Handed(e, false, u); };
const Exports::Call kPost = [](Exports& e, const char* u) { return Exports::Buffered(e, 2, u); };
const Exports::Call kPost3 = [](Exports& e, const char* u) { return Exports::Handed(e, true, u); };
const Exports::Call kDownload = [](Exports& e, const char* u) {
    return e.Filed(ZEMUrlTransferFile(e.handle.get(), u, nullptr, e.got.c_str(), 0));
};
const Exports::Call kUpload = [](Exports& e, const char* u) {
    return e.Filed(ZEMUrlTransferFile(e.handle.get(), u, nullptr, e.file.c_str(), 1));
};
const Exports::Call kKivDown = [](Exports& e, const char* u) {
    return e.Filed(ZEMKIVTransferFile(e.handle.get(), u, "s", "n", e.got.c_str(), 0));
};
const Exports::Call kKivDownW = [](Exports& e, const char* u) {
    return e.Filed(ZEMKIVTransferFileW(e.handle.get(), u, "s", u"n", Widen(e.got).c_str(), 0));
};
const Exports::Call kKivUp = [](Exports& e, const char* u) {
    return e.Filed(ZEMKIVTransferFile(e.handle.get(), u, "s", "n", e.file.c_str(), 1));
};
const Exports::Call kKivUpW = [](Exports& e, const char* u) {
    return e.Filed(ZEMKIVTransferFileW(e.handle.get(), u, "s", u"n", Widen(e.file).c_str(), 1));
};

struct FailureRow {
    const char* name;
    const Exports::Call& call;
    std::string url;  // "refused" for a port where nothing listens
    int32_t result;
    std::string lines;        // the trace without failure reports ({url}, {file}, {got})
    std::string report = "";  // a failure report the trace must hold
    int32_t level = 0;
};

TEST(FailureRows, ResultsAndTraceLines) {
    const std::string begin = "ZEMUrlPost Begin: {url}\n", ftp = "ftp://127.0.0.1/f";
    const std::vector<FailureRow> rows = {
        {"get ftp", kGet, ftp, -1, ""},
        {"get file scheme", kGet, "file:///etc/hostname", -1, ""},
        {"get2 no host", kGet2, "http://", -1, ""},
        {"get3 not a url", kGet3, "not a url", -1, ""},
        {"get3 null url", kGet3, kNull, -1, ""},
        {"get refused", kGet, "refused", -1, "", "[ {url} ] request failed...\n"},
        {"get2 refused", kGet2, "refused", -1, "", "[ {url} ] request failed...\n"},
        {"get3 refused", kGet3, "refused", -1, "", "[ {url} ] request failed...\n"},
        {"post ftp", kPost, ftp, -1, begin},
        {"post3 null url", kPost3, kNull, -1, "ZEMUrlPost Begin: \n"},
        {"post refused", kPost, "refused", -1, begin + "ZEMUrlPost Result: -1\n",
         "[ {url} ] request failed\n"},
        {"post3 refused", kPost3, "refused", -1, begin + "ZEMUrlPost Result: -1\n"},
        {"download ftp", kDownload, ftp, 0, "ZEMUrlDownloadFile Begin: {url}, {got}\n"},
        {"download refused", kDownload, "refused", 0,
         "ZEMUrlDownloadFile Begin: {url}, {got}\nZEMUrlDownloadFile Result: 0\n",
         "[ {url} ] request failed\n"},
        {"upload ftp", kUpload, ftp, 0, "ZEMUrlUploadFile Begin: {url}, {file}\n"},
        {"upload refused, level 2", kUpload, "refused", 0, "ZEMUrlUploadFile Failed\n", "", 2},
        {"upload refused, level 3", kUpload, "refused", 0, "", "", 3},
        {"conference download ftp", kKivDown, ftp, 0,
         "ZEMKIVDownloadFile Begin: {url}, s, n, {got}\n"},
        {"wide conference download ftp", kKivDownW, ftp, 0, ""},
        {"conference upload ftp", kKivUp, ftp, 0, "ZEMKIVUploadFile Begin: {url}, s, {file}\n"},
        {"wide conference upload ftp", kKivUpW, ftp, 0,
         "ZEMKIVUploadFileW Begin: {url}, s, {file}\n"},
        {"conference download refused", kKivDown, "refused", 0,
         "ZEMKIVDownloadFile Begin: {url}, s, n, {got}\n", "[ {url} ] request failed...\n"},
        {"conference upload refused", kKivUp, "refused", 0,
         "ZEMKIVUploadFile Begin: {url}, s, {file}\nZEMKIVUploadFile Failed.\n"},
        {"wide conference upload refused", kKivUpW, "refused", 0,
         "ZEMKIVUploadFileW Begin: {url}, s, {file}\nZEMKIVUploadFileW Failed.\n"},
        {"conference upload refused, level 2", kKivUp, "refused", 0, "", "request failed\n", 2},
        {"get refused, lowest level", kGet, "refused", -1, "", "[ {url} ] request failed...\n",
         INT32_MIN},
        {"get refused, level 3", kGet, "refused", -1, ""},
        {"get refused, highest level", kGet, "refused", -1, "", "", INT32_MAX},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.name);
        Exports exports;
        const std::string url = row.url == "refused" ? RefusedUrl() : row.url;
        TraceFile trace(row.level);
        EXPECT_EQ(row.call(exports, url == kNull ? nullptr : url.c_str()), row.result);
        EXPECT_TRUE(exports.untouched);
        auto filled = [&](const std::string& text) {
            return Replaced(Replaced(WithUrl(text, url), "{file}", exports.file), "{got}",
                            exports.got);
        };
        EXPECT_EQ(trace.OwnLines(), filled(row.lines));
        EXPECT_NE(trace.Text().find(filled(row.report)), std::string::npos) << trace.Text();
        EXPECT_TRUE(row.level <= 2 || trace.Text().empty()) << trace.Text();
    }
}

// A file that cannot be created: its error line, the body unread; a URL longer than a trace
// line is cut at the line's 2047 characters and the call goes on.
TEST(FailureRows, UncreatableFileAndOverlongUrl) {
    ScriptedServer server(Answer(HttpResponse(200, "ok")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string nowhere = folder.File("missing/f.bin"), url = server.url();
    {
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), nullptr, nowhere.c_str(), 0), 0);
        EXPECT_EQ(trace.OwnLines(), "ZEMUrlDownloadFile Begin: " + url + ", " + nowhere +
                                        "\nZEMUrlDownloadFile QueryResult: 200\nCreate file " +
                                        nowhere + " error!\nZEMUrlDownloadFile Result: 0\n");
    }
    const std::string longUrl = server.url("/" + std::string(2060, 'u'));
    TraceFile trace;
    int32_t status = 0;
    EXPECT_EQ(ZEMUrlPost(longUrl.c_str(), nullptr, &status, nullptr, 0, nullptr), 2);
    EXPECT_EQ(trace.Text(), ("ZEMUrlPost Begin: " + longUrl).substr(0, 2046) +
                                "\nZEMUrlPost Result Code: 200\nZEMUrlPost Result: 2\n");
}

// A trace file starts empty; a null, empty or unopenable path closes the current one and
// traces nowhere.
TEST(FailureRows, TraceFileSwitches) {
    TempDir folder;
    const std::string path = folder.File("trace.txt"), missing = folder.File("missing/t.txt");
    for (const char* off : {static_cast<const char*>(nullptr), "", missing.c_str()}) {
        SCOPED_TRACE(off == nullptr ? "null" : off);
        WriteFileBytes(path, "old content\n");
        ZEMUser_SetTraceFile(path.c_str());
        EXPECT_EQ(ZEMUrlPost3("ftp://before/", nullptr, nullptr, nullptr, nullptr, nullptr), -1);
        ZEMUser_SetTraceFile(off);
        EXPECT_EQ(ZEMUrlPost3("ftp://after/", nullptr, nullptr, nullptr, nullptr, nullptr), -1);
        EXPECT_EQ(ReadFileBytes(path), "ZEMUrlPost Begin: ftp://before/\n");
        EXPECT_EQ(FilesBelow(folder.path()), std::set<std::string>{"trace.txt"});
    }
}

}  // namespace
