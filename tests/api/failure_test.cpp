// What each export gives and traces when it fails, and the trace thresholds.
#include "api_support.h"

namespace {

constexpr const char* kNull = "<null>";  // the URL row that passes a null pointer

struct FailureRow {
    const char* name;
    Call call;
    std::string url;  // "refused": nothing listens; "live": a server answers 200 "ok"
    int32_t result;
    std::string lines;        // the trace without failure reports ({url}, {local})
    std::string report = "";  // a failure report the trace must hold
    int32_t level = 0;
    const char* local = nullptr;  // the file to use when not the usual one
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
        {"get ftp", Get, ftp, -1, ""},
        {"get2 no host", Get2, "http://", -1, ""},
        {"get3 null url", Get3, kNull, -1, ""},
        {"get refused", Get, "refused", -1, "",
         kWindows ? "[12029, 0x00002efd] The attempt to connect to the server failed.\r\n"
                  : "[ {url} ] request failed...\n"},
        {"post ftp", Post, ftp, -1, begin},
        {"post3 null url", Post3, kNull, -1, "ZEMUrlPost Begin: \n"},
        {"post refused", Post, "refused", -1, begin + "ZEMUrlPost Result: -1\n",
         "[ {url} ] request failed\n"},
        {"post3 refused", Post3, "refused", -1, begin + "ZEMUrlPost Result: -1\n"},
        {"download ftp", Url, ftp, 0, "ZEMUrlDownloadFile Begin: {url}, {local}\n"},
        {"download refused", Url, "refused", 0,
         "ZEMUrlDownloadFile Begin: {url}, {local}\nZEMUrlDownloadFile Result: 0\n",
         "[ {url} ] request failed\n"},
        {"upload ftp", Up, ftp, 0, "ZEMUrlUploadFile Begin: {url}, {local}\n"},
        {"upload refused, level 2", Up, "refused", 0, "ZEMUrlUploadFile Failed\n", "", 2},
        {"conference download ftp", Kiv, ftp, 0,
         "ZEMKIVDownloadFile Begin: {url}, s, n, {local}\n"},
        {"wide conference download ftp", KivW, ftp, 0, ""},
        {"conference upload ftp", KivUp, ftp, 0, "ZEMKIVUploadFile Begin: {url}, s, {local}\n"},
        {"wide conference upload ftp", KivUpW, ftp, 0,
         "ZEMKIVUploadFileW Begin: {url}, s, {local}\n"},
        {"conference download refused", Kiv, "refused", 0,
         "ZEMKIVDownloadFile Begin: {url}, s, n, {local}\n", "[ {url} ] request failed...\n"},
        {"conference upload refused", KivUp, "refused", 0,
         "ZEMKIVUploadFile Begin: {url}, s, {local}\nZEMKIVUploadFile Failed.\n"},
        {"wide conference upload refused", KivUpW, "refused", 0,
         "ZEMKIVUploadFileW Begin: {url}, s, {local}\nZEMKIVUploadFileW Failed.\n"},
        {"conference upload refused, level 2", KivUp, "refused", 0, "", "request failed\n", 2},
        {"download into a missing folder", Url, "live", 0,
         "ZEMUrlDownloadFile Begin: {url}, {local}\nZEMUrlDownloadFile QueryResult: 200\n"
         "Create file {local} error!\nZEMUrlDownloadFile Result: 0\n",
         "", 0, "missing/got.bin"},
        {"get refused, lowest level", Get, "refused", -1, "", "[ {url} ] request failed...\n",
         INT32_MIN},
        {"get refused, level 3", Get, "refused", -1, ""},
        // Under WinINet its own texts; the handshake's code is not in its table.
        {"get plain as secure", Get, "tls", -1, "",
         kWindows ? "[ {url} ] request failed...\n"
                  : "[12175, 0x00002f8f] The secure channel to the server failed.\r\n"},
        {"get a name too long to look up", Get, "http://" + std::string(64, 'n') + ".invalid/", -1,
         "",
         kWindows ? "[12007, 0x00002ee7] The server name could not be resolved.\r\n"
                  : "[12007, 0x00002ee7] The host name could not be turned into an address.\r\n"},
        {"conference upload answered, level 1", KivUp, "live", 0, "", "", 1},
        {"post refused, level 1", Post, "refused", -1, "", "[ {url} ] request failed\n", 1},
        {"download into a missing folder, level 3", Url, "live", 0, "", "", 3, "missing/got.bin"},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir folder;
        const std::string local = folder.File(row.local != nullptr ? row.local
                                              : IsUpload(row.call) ? "up.bin"
                                                                   : "got.bin");
        WriteFileBytes(folder.File("up.bin"), "content");
        OwnedHandle handle = BeginHandle();
        ScriptedServer live(Answer(HttpResponse(200, "ok")));
        ScriptedServer hangingUp([](ScriptedConnection&) {});  // before any handshake
        const std::string url = row.url == "refused" ? RefusedUrl()
                                : row.url == "live"  ? live.url()
                                : row.url == "tls"   ? "https" + hangingUp.url().substr(4)
                                                     : row.url;
        TraceFile trace(row.level);
        const Outcome out = Perform(row.call, InMemory(row.call) ? nullptr : handle.get(),
                                    url == kNull ? nullptr : url.c_str(), 16, local);
        EXPECT_EQ(out.result, row.result);
        ExpectUntouched(row.call, out, folder.path());
        EXPECT_EQ(trace.OwnLines(), Replaced(Replaced(row.lines, "{url}", url), "{local}", local));
        EXPECT_NE(trace.Text().find(Replaced(row.report, "{url}", url)), std::string::npos)
            << trace.Text();
        EXPECT_TRUE(row.level <= 2 || trace.Text().empty()) << trace.Text();
    }
}

// A null handle serves only the fetches and posts; an ended or unknown one nothing. Nothing is
// sent for a refused handle, and ending or cancelling it again does no harm.
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
        for (int c = 0; c <= static_cast<int>(KivUpW); ++c) {
            const Call call = static_cast<Call>(c);
            if (handle == nullptr && InMemory(call)) continue;
            SCOPED_TRACE(Name(call) + (handle == nullptr ? ", null" : ""));
            const Outcome out = Perform(call, handle, server.url().c_str(), 16, file);
            EXPECT_EQ(out.result, InMemory(call) ? -1 : 0);
            if (call == Named) {
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
