// Transfers with the reference file service of a conference server, in both directions, with
// narrow paths in the ANSI code page and wide paths beyond it.
#include "wine_test_support.h"

namespace wine_testing {
namespace {

// One session folder of the file service, made fresh for each test.
class WineConference : public testing::Test {
  protected:
    WineConference() : session_(NewTag("conf")) {
        CreateDirectoryW(ServerFile(L"").c_str(), nullptr);
    }

    std::wstring ServerFile(const std::wstring& name) const {
        return TheSetup().fileRoot + L"\\" + Widen(session_) + (name.empty() ? L"" : L"\\" + name);
    }

    const char* url() const { return TheSetup().fileService.c_str(); }

    std::string session_;
    ScratchFolder local_;
    Handle handle_ = BeginHandle();
};

TEST_F(WineConference, DownloadStoresTheFileAndWritesItsLines) {
    const std::string content = Pattern(70000, 'd');
    WriteFileBytes(ServerFile(L"minutes.bin"), content);
    std::string target = Ansi(local_.File(L"minutes.bin"));
    TraceCapture trace;
    EXPECT_EQ(ZEMKIVTransferFile(handle_.get(), url(), session_.c_str(), "minutes.bin",
                                 target.c_str(), 0),
              1);
    EXPECT_EQ(ReadFileBytes(local_.File(L"minutes.bin")), content);
    EXPECT_EQ(trace.Lines(),
              (std::vector<std::string>{"ZEMKIVDownloadFile Begin: " + std::string(url()) + ", " +
                                            session_ + ", minutes.bin, " + target,
                                        "ZEMKIVDownloadFile QueryResult: 200",
                                        "ZEMKIVDownloadFile Result: 1"}));
}

TEST_F(WineConference, DownloadOfAMissingFileStoresTheErrorPage) {
    std::wstring target = local_.File(L"missing.bin");
    TraceCapture trace;
    EXPECT_EQ(ZEMKIVTransferFile(handle_.get(), url(), session_.c_str(), "missing.bin",
                                 Ansi(target).c_str(), 0),
              1);
    EXPECT_TRUE(trace.Contains("ZEMKIVDownloadFile QueryResult: 404"));
    EXPECT_FALSE(ReadFileBytes(target).empty());
}

TEST_F(WineConference, UploadIsStoredUnderItsBaseNameAndAcceptedByOk) {
    std::wstring source = local_.File(L"slides.pdf");
    const std::string content = Pattern(5000, 's');
    WriteFileBytes(source, content);
    TraceCapture trace;
    // The file name argument is not looked at by an upload.
    EXPECT_EQ(ZEMKIVTransferFile(handle_.get(), url(), session_.c_str(), "ignored",
                                 Ansi(source).c_str(), 7),
              1);
    EXPECT_EQ(ReadFileBytes(ServerFile(L"slides.pdf")), content);
    EXPECT_TRUE(trace.Contains("ZEMKIVUploadFile Begin: " + std::string(url()) + ", " + session_ +
                               ", " + Ansi(source)));
    EXPECT_TRUE(trace.Contains("ZEMKIVUploadFile QueryResult: 200"));
    EXPECT_TRUE(trace.Contains("ZEMKIVUploadFile Result: OK"));
}

TEST_F(WineConference, NarrowAnsiNamesMakeTheRoundTrip) {
    if (GetACP() != 1252) GTEST_SKIP() << "needs the ANSI code page 1252, have " << GetACP();
    std::wstring source = local_.File(L"r\u00e9sum\u00e9.txt");
    WriteFileBytes(source, "ansi content");
    ASSERT_EQ(ZEMKIVTransferFile(handle_.get(), url(), session_.c_str(), nullptr,
                                 Ansi(source).c_str(), 1),
              1);
    // The server keeps the name's bytes as they came; the same bytes fetch it again.
    std::wstring target = local_.File(L"copie-\u00e9.txt");
    EXPECT_EQ(ZEMKIVTransferFile(handle_.get(), url(), session_.c_str(), "r\xE9sum\xE9.txt",
                                 Ansi(target).c_str(), 0),
              1);
    EXPECT_EQ(ReadFileBytes(target), "ansi content");
}

TEST_F(WineConference, WidePathsBeyondTheAnsiCodePageGoBothWays) {
    const std::wstring name = L"donn\u00e9es-\u4f1a\u8bae-\U0001F4C4.bin";
    std::wstring source = local_.File(name);
    const std::string content = Pattern(3000, 'w');
    WriteFileBytes(source, content);
    TraceCapture trace;
    EXPECT_EQ(
        ZEMKIVTransferFileW(handle_.get(), url(), session_.c_str(), nullptr, source.c_str(), 1), 1);
    // The server received the UTF-8 name and stored the file under it.
    EXPECT_EQ(ReadFileBytes(ServerFile(name)), content);
    EXPECT_TRUE(trace.Contains("ZEMKIVUploadFileW Begin: " + std::string(url()) + ", " + session_ +
                               ", " + Utf8(source)));
    EXPECT_TRUE(trace.Contains("ZEMKIVUploadFileW Result: OK"));

    std::wstring target = local_.File(L"\u4e0b\u8f7d-\u00e9.bin");
    EXPECT_EQ(ZEMKIVTransferFileW(handle_.get(), url(), session_.c_str(), name.c_str(),
                                  target.c_str(), 0),
              1);
    EXPECT_EQ(ReadFileBytes(target), content);
    // The wide download writes no Begin line, and the narrow texts for the other two.
    std::vector<std::string> lines = trace.Lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"ZEMKIVDownloadFile QueryResult: 200",
                                        "ZEMKIVDownloadFile Result: 1"}));
}

// The forms as the recording server received them; the handle carries proxy credentials,
// which only a proxy asking for them would use.
TEST(WineConferenceForms, DownloadIsUrlEncodedAndUploadIsMultipart) {
    Handle handle(ZEMTransferBeginV2("proxy-user", "proxy-secret"));
    ASSERT_NE(handle, nullptr);
    ScratchFolder folder;

    std::string narrowTag = NewTag("kivdown");
    EXPECT_EQ(ZEMKIVTransferFile(handle.get(), RecorderUrl(narrowTag, "body=data").c_str(), "42",
                                 "a b&c.txt", Ansi(folder.File(L"n.bin")).c_str(), 0),
              1);
    RecordedRequest narrow = ReadRecord(narrowTag);
    EXPECT_EQ(narrow.requestLine, "POST /rec/" + narrowTag + "?body=data HTTP/1.0");
    // Copied byte for byte: no escaping of blanks, '&' or '='.
    EXPECT_EQ(narrow.body, "x=kivStuff&act=download&session_id=42&filename=a b&c.txt");
    EXPECT_EQ(narrow.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(narrow.Header("User-Agent"),
              "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)");

    std::string wideTag = NewTag("kivdownw");
    EXPECT_EQ(ZEMKIVTransferFileW(handle.get(), RecorderUrl(wideTag, "body=data").c_str(), "42",
                                  L"\u00e9\u4e2d.txt", folder.File(L"w.bin").c_str(), 0),
              1);
    EXPECT_EQ(ReadRecord(wideTag).body,
              "x=kivStuff&act=download&session_id=42&filename=\xC3\xA9\xE4\xB8\xAD.txt");

    std::wstring source = folder.File(L"up.txt");
    WriteFileBytes(source, "abc");
    std::string upTag = NewTag("kivup");
    EXPECT_EQ(ZEMKIVTransferFile(handle.get(), RecorderUrl(upTag, "body=OK%0D%0A").c_str(), "42",
                                 "ignored", Ansi(source).c_str(), 1),
              1);
    EXPECT_EQ(ReadRecord(upTag).body, TextPart("x", "kivStuff") + TextPart("act", "upload") +
                                          TextPart("session_id", "42") + TextPart("file_num", "1") +
                                          FilePart("file1", Ansi(source), "abc") +
                                          ClosingDelimiter());
}

}  // namespace
}  // namespace wine_testing
