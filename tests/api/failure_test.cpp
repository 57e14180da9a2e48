// What each export gives and traces when it fails before or while sending: another scheme or a
// bad URL, a refused connection, a file that cannot be created; the trace threshold's rules; and
// the trace file's own switches.
#include "api_support.h"

namespace {

using namespace api_testing;

constexpr const char* kNull = "<null>";  // the URL row that passes a null pointer

struct FailureRow {
    const char* name;
    Call call;
    std::string url;  // "refused" for a port where nothing listens
    int32_t result;
    std::string lines;        // the trace without failure reports ({url}, {file}, {got})
    std::string report = "";  // a failure report the trace must hold
    int32_t level = 0;
};

// Status 0 and the host's buffer and out-parameters as they were; for the file calls, no file
// but the one to upload.
void ExpectUntouched(Call call, const Outcome& out, const std::string& folder) {
    if (InMemory(call)) {
        EXPECT_EQ(out.status, 0);
        EXPECT_EQ(out.length, -7);
        EXPECT_TRUE(out.buffer == "<none>" || out.buffer == std::string(18, '#')) << out.buffer;
    } else {
        EXPECT_EQ(FilesBelow(folder), std::set<std::string>{"up.bin"});
    }
}

TEST(FailureRows, ResultsAndTraceLines) {
    const std::string begin = "ZEMUrlPost Begin: {url}\n", ftp = "ftp://127.0.0.1/f";
    const std::vector<FailureRow> rows = {
        {"get ftp", Call::Get, ftp, -1, ""},
        {"get file scheme", Call::Get, "file:///etc/hostname", -1, ""},
        {"get2 no host", Call::Get2, "http://", -1, ""},
        {"get3 not a url", Call::Get3, "not a url", -1, ""},
        {"get3 null url", Call::Get3, kNull, -1, ""},
        {"get refused", Call::Get, "refused", -1, "", "[ {url} ] request failed...\n"},
        {"get2 refused", Call::Get2, "refused", -1, "", "[ {url} ] request failed...\n"},
        {"get3 refused", Call::Get3, "refused", -1, "", "[ {url} ] request failed...\n"},
        {"post ftp", Call::Post, ftp, -1, begin},
        {"post3 null url", Call::Post3, kNull, -1, "ZEMUrlPost Begin: \n"},
        {"post refused", Call::Post, "refused", -1, begin + "ZEMUrlPost Result: -1\n",
         "[ {url} ] request failed\n"},
        {"post3 refused", Call::Post3, "refused", -1, begin + "ZEMUrlPost Result: -1\n"},
        {"download ftp", Call::Url, ftp, 0, "ZEMUrlDownloadFile Begin: {url}, {got}\n"},
        {"download refused", Call::Url, "refused", 0,
         "ZEMUrlDownloadFile Begin: {url}, {got}\nZEMUrlDownloadFile Result: 0\n",
         "[ {url} ] request failed\n"},
        {"upload ftp", Call::Up, ftp, 0, "ZEMUrlUploadFile Begin: {url}, {file}\n"},
        {"upload refused, level 2", Call::Up, "refused", 0, "ZEMUrlUploadFile Failed\n", "", 2},
        {"upload refused, level 3", Call::Up, "refused", 0, "", "", 3},
        {"conference download ftp", Call::Kiv, ftp, 0,
         "ZEMKIVDownloadFile Begin: {url}, s, n, {got}\n"},
        {"wide conference download ftp", Call::KivW, ftp, 0, ""},
        {"conference upload ftp", Call::KivUp, ftp, 0,
         "ZEMKIVUploadFile Begin: {url}, s, {file}\n"},
        {"wide conference upload ftp", Call::KivUpW, ftp, 0,
         "ZEMKIVUploadFileW Begin: {url}, s, {file}\n"},
        {"conference download refused", Call::Kiv, "refused", 0,
         "ZEMKIVDownloadFile Begin: {url}, s, n, {got}\n", "[ {url} ] request failed...\n"},
        {"conference upload refused", Call::KivUp, "refused", 0,
         "ZEMKIVUploadFile Begin: {url}, s, {file}\nZEMKIVUploadFile Failed.\n"},
        {"wide conference upload refused", Call::KivUpW, "refused", 0,
         "ZEMKIVUploadFileW Begin: {url}, s, {file}\nZEMKIVUploadFileW Failed.\n"},
        {"conference upload refused, level 2", Call::KivUp, "refused", 0, "", "request failed\n",
         2},
        {"get refused, lowest level", Call::Get, "refused", -1, "", "[ {url} ] request failed...\n",
         INT32_MIN},
        {"get refused, level 3", Call::Get, "refused", -1, ""},
        {"get refused, highest level", Call::Get, "refused", -1, "", "", INT32_MAX},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir folder;
        const std::string file = folder.File("up.bin"), got = folder.File("got.bin");
        WriteFileBytes(file, "content");
        OwnedHandle handle = BeginHandle();
        const std::string url = row.url == "refused" ? RefusedUrl() : row.url;
        TraceFile trace(row.level);
        const Outcome out =
            Perform(row.call, InMemory(row.call) ? nullptr : handle.get(),
                    url == kNull ? nullptr : url.c_str(), 16, IsUpload(row.call) ? file : got);
        EXPECT_EQ(out.result, row.result);
        ExpectUntouched(row.call, out, folder.path());
        auto filled = [&](const std::string& text) {
            return Replaced(Replaced(WithUrl(text, url), "{file}", file), "{got}", got);
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

// A null handle serves the fetches and posts (a session of their own) but not the file
// transfers; an ended or unknown handle serves nothing. Nothing is sent for a refused handle,
// and ending or cancelling it again does no harm.
TEST(FailureRows, NullEndedAndUnknownHandlesRefusedWithoutSending) {
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    TempDir folder;
    const std::string file = folder.File("up.bin");
    WriteFileBytes(file, "content");
    TransferHandle ended = ZEMTransferBegin();
    ZEMTransferEnd(ended);
    ZEMTransferEnd(ended);
    CancelTransferFile(ended);
    const TransferHandle unknown = reinterpret_cast<TransferHandle>(std::uintptr_t{0x7778});
    for (TransferHandle handle : {static_cast<TransferHandle>(nullptr), ended, unknown}) {
        for (int c = 0; c <= static_cast<int>(Call::KivUpW); ++c) {
            const Call call = static_cast<Call>(c);
            if (handle == nullptr && InMemory(call)) continue;
            SCOPED_TRACE(Name(call) + (handle == nullptr ? ", null" : ""));
            const Outcome out = Perform(call, handle, server.url().c_str(), 16, file);
            EXPECT_EQ(out.result, InMemory(call) ? -1 : 0);
            if (call == Call::Named) {
                EXPECT_EQ(out.buffer, std::string(1, '\0') + std::string(17, '#'));
            } else {
                ExpectUntouched(call, out, folder.path());
            }
        }
    }
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(ReadFileBytes(file), "content");
}

}  // namespace
