// URL downloads and uploads through the real WinINet and the real file system: files and
// folders as targets, the names a server announces (and those Windows must not take as they
// stand), narrow paths in the ANSI code page, wide paths, and the "OK" rule of uploads.
#include <cstring>

#include "wine_test_support.h"

namespace wine_testing {
namespace {

std::string Disposition(const std::string& value) {
    return "disposition=" + QueryText(value);
}

TEST(WineUrlDownload, IntoANewFileWithTheFieldsPosted) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    std::string tag = NewTag("down");
    std::string url = RecorderUrl(tag, "size=500");
    std::wstring target = folder.File(L"in.bin");
    PostFields fields{{"zeta", "26"}, {"alpha", "1"}};
    TraceCapture trace;
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, Ansi(target).c_str(), 0), 1);
    EXPECT_EQ(ReadFileBytes(target).size(), 500u);

    RecordedRequest request = ReadRecord(tag);
    EXPECT_EQ(request.body, TextPart("alpha", "1") + TextPart("zeta", "26") + ClosingDelimiter());
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{"ZEMUrlDownloadFile Begin: " + url + ", " + Ansi(target),
                                        "ZEMUrlDownloadFile QueryResult: 200",
                                        "ZEMUrlDownloadFile Result: 1"}));
}

TEST(WineUrlDownload, ErrorStatusOrEmptyBodyLeavesNoFile) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields;
    std::wstring target = folder.File(L"x.bin");
    TraceCapture trace;
    std::string missing = RecorderUrl(NewTag("down404"), "status=404&body=gone");
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), missing.c_str(), &fields, Ansi(target).c_str(), 0),
              0);
    EXPECT_TRUE(trace.Contains("ZEMUrlDownloadFile QueryResult: 404"));
    std::string empty = RecorderUrl(NewTag("downempty"));
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), empty.c_str(), &fields, Ansi(target).c_str(), 0), 0);
    EXPECT_TRUE(trace.Contains("ResponseToFile " + Ansi(target) + " error!"));
    EXPECT_TRUE(FolderEntries(folder.path()).empty());
}

struct AnnouncedName {
    const char* disposition;
    const wchar_t* stored;  // the file made inside the target folder
    const char* reported;   // what the host's name buffer receives
};

class WineAnnouncedName : public testing::TestWithParam<AnnouncedName> {};

// Whatever a server announces, the file lands inside the target folder and nowhere else.
TEST_P(WineAnnouncedName, StaysInsideTheFolder) {
    const AnnouncedName& name = GetParam();
    ScratchFolder outer;
    std::wstring folder = outer.File(L"target");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    Handle handle = BeginHandle();
    PostFields fields;
    std::string url = RecorderUrl(NewTag("name"), "body=payload&" + Disposition(name.disposition));
    char reported[64];
    std::memset(reported, 'X', sizeof reported);
    EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields, Ansi(folder).c_str(),
                                    reported, sizeof reported),
              1);
    EXPECT_STREQ(reported, name.reported);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::wstring>{name.stored});
    EXPECT_EQ(ReadFileBytes(folder + L"\\" + name.stored), "payload");
    EXPECT_EQ(FolderEntries(outer.path()), std::vector<std::wstring>{L"target"});
}

INSTANTIATE_TEST_SUITE_P(
    Names, WineAnnouncedName,
    testing::Values(
        AnnouncedName{"attachment; filename=\"report.txt\"", L"report.txt", "report.txt"},
        AnnouncedName{"inline", L"unknown", ""},
        AnnouncedName{"attachment; filename=\"..\\..\\escape.txt\"", L"escape.txt", "escape.txt"},
        AnnouncedName{"attachment; filename=\"../up/escape2.txt\"", L"escape2.txt", "escape2.txt"},
        AnnouncedName{"attachment; filename=\"c:x.txt\"", L"cx.txt", "cx.txt"},
        AnnouncedName{"attachment; filename=\"a<b>|?*.txt\"", L"ab.txt", "ab.txt"},
        AnnouncedName{"attachment; filename=CON", L"unknown", ""},
        AnnouncedName{"attachment; filename=\"nul.txt\"", L"unknown", ""},
        AnnouncedName{"attachment; filename=\"Lpt9.tar.gz\"", L"unknown", ""},
        AnnouncedName{"attachment; filename=\"com1 .log\"", L"unknown", ""},
        AnnouncedName{"attachment; filename=\"report.txt.\"", L"unknown", ""},
        AnnouncedName{"attachment; filename=\"..\"", L"unknown", ""},
        AnnouncedName{"attachment; filename=\"COM10\"", L"COM10", "COM10"}));

TEST(WineUrlDownload, NameBufferIsCutOrPaddedToItsSize) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields;
    std::string url = RecorderUrl(NewTag("namesize"),
                                  "body=abc&" + Disposition("attachment; filename=report.txt"));
    char name[64];
    std::memset(name, 'X', sizeof name);
    EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields,
                                    Ansi(folder.File(L"one.bin")).c_str(), name, 64),
              1);
    EXPECT_EQ(std::string(name, 64), "report.txt" + std::string(54, '\0'));
    std::memset(name, 'X', sizeof name);
    EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields,
                                    Ansi(folder.File(L"two.bin")).c_str(), name, 4),
              1);
    EXPECT_EQ(std::string(name, 5), "repoX");
}

TEST(WineUrlDownload, WideFolderWithNonAsciiNamesTakesTheNameInTheAnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs the ANSI code page 1252, have " << GetACP();
    ScratchFolder outer;
    std::wstring folder = outer.File(L"d\u00e9p\u00f4t-\u4e2d\u6587");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    Handle handle = BeginHandle();
    PostFields fields;
    // The header carries the name as bytes of the ANSI code page: r\xE9sum\xE9.txt.
    std::string url = RecorderUrl(NewTag("widename"),
                                  "body=cv&disposition=attachment%3B%20filename%3Dr%E9sum%E9.txt");
    TraceCapture trace;
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), &fields, folder.c_str(), 0), 1);
    EXPECT_EQ(ReadFileBytes(folder + L"\\r\u00e9sum\u00e9.txt"), "cv");
    // The wide path reaches the trace as UTF-8.
    EXPECT_TRUE(trace.Contains("ZEMUrlDownloadFile Begin: " + url + ", " + Utf8(folder)));
}

TEST(WineUrlUpload, SendsFieldsFileNumberAndFileInThatOrder) {
    ScratchFolder folder;
    std::wstring local = folder.File(L"a.txt");
    WriteFileBytes(local, "abc");
    Handle handle = BeginHandle();
    std::string tag = NewTag("up");
    std::string url = RecorderUrl(tag, "body=OK");
    PostFields fields{{"user", "7"}};
    TraceCapture trace;
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, Ansi(local).c_str(), 1), 1);
    RecordedRequest request = ReadRecord(tag);
    EXPECT_EQ(request.body, TextPart("user", "7") + TextPart("file_num", "1") +
                                FilePart("file1", Ansi(local), "abc") + ClosingDelimiter());
    EXPECT_TRUE(trace.Contains("ZEMUrlUploadFile Result: OK"));
}

TEST(WineUrlUpload, AcceptsOnlyARepliesThatStartWithOk) {
    ScratchFolder folder;
    std::wstring local = folder.File(L"u.bin");
    WriteFileBytes(local, Pattern(3000));
    Handle handle = BeginHandle();
    PostFields fields;
    struct Case {
        const char* query;
        std::int32_t direction;
        std::int32_t expected;
    };
    for (const Case& c :
         {Case{"body=OK", 1, 1}, Case{"body=%0D%0AOK", -1, 1}, Case{"body=%20OK", 7, 0},
          Case{"body=", 1, 0}, Case{"status=500&body=OK", 1, 1}, Case{"body=ok", 1, 0}}) {
        std::string url = RecorderUrl(NewTag("upok"), c.query);
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, Ansi(local).c_str(),
                                     c.direction),
                  c.expected)
            << c.query;
    }
}

TEST(WineUrlUpload, NarrowPathInTheAnsiCodePageAndWidePathAreBothRead) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs the ANSI code page 1252, have " << GetACP();
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields;

    std::wstring narrowFile = folder.File(L"caf\u00e9.txt");
    WriteFileBytes(narrowFile, "narrow bytes");
    std::string narrowTag = NewTag("upansi");
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), RecorderUrl(narrowTag, "body=OK").c_str(), &fields,
                                 Ansi(narrowFile).c_str(), 1),
              1);
    EXPECT_EQ(ReadRecord(narrowTag).body, TextPart("file_num", "1") +
                                              FilePart("file1", Ansi(narrowFile), "narrow bytes") +
                                              ClosingDelimiter());

    std::wstring wideFile = folder.File(L"\u4e2d\u6587-\u00e9.txt");
    WriteFileBytes(wideFile, "wide bytes");
    std::string wideTag = NewTag("upwide");
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), RecorderUrl(wideTag, "body=OK").c_str(), &fields,
                                  wideFile.c_str(), 1),
              1);
    // A wide path is announced in UTF-8.
    EXPECT_EQ(ReadRecord(wideTag).body, TextPart("file_num", "1") +
                                            FilePart("file1", Utf8(wideFile), "wide bytes") +
                                            ClosingDelimiter());
}

}  // namespace
}  // namespace wine_testing
