// Names a server announces that Windows must not take as they stand; narrow paths in the ANSI
// code page and wide paths beyond it making the round trip through uploads and downloads.
#include "wine_support.h"

namespace wine_testing {
namespace {

// Into a wide folder beyond the ANSI code page; the announced name is ANSI text.
TEST(WineNames, AnnouncedNameIsStoredInsideTheFolderUnderAWindowsName) {
    ASSERT_EQ(GetACP(), 1252u) << "the rows are written for the ANSI code page 1252";
    // clang-format off
    // The disposition percent-encoded for the query; the file made in the folder, in UTF-8.
    const struct { const char* name; const char* disposition; const char* stored; } rows[] = {
        {"quoted", "attachment%3B filename%3D%22report.txt%22", "report.txt"},
        {"none", "inline", "unknown"},
        {"ANSI letters", "attachment%3B filename%3Dr%E9sum%E9.txt", "r\u00e9sum\u00e9.txt"},
        {"backslash climb", "attachment%3B filename%3D..%5C..%5Cup.txt", "up.txt"},
        {"slash climb", "attachment%3B filename%3D..%2Fx%2Fup2.txt", "up2.txt"},
        {"drive colon", "attachment%3B filename%3Dc%3Ax.txt", "cx.txt"},
        {"refused characters", "attachment%3B filename%3Da%3Cb%3E%7C%3F%2A.txt", "ab.txt"},
        {"device", "attachment%3B filename%3DCON", "unknown"},
        {"device with extension", "attachment%3B filename%3Dnul.txt", "unknown"},
        {"numbered device", "attachment%3B filename%3DLpt9.tar.gz", "unknown"},
        {"device, blank", "attachment%3B filename%3Dcom1 .log", "unknown"},
        {"device, superscript one", "attachment%3B filename%3DCOM%B9", "unknown"},
        {"trailing dot", "attachment%3B filename%3Dreport.txt.", "unknown"},
        {"dots only", "attachment%3B filename%3D..", "unknown"},
        {"no device", "attachment%3B filename%3DCOM10", "COM10"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder folder(L"-d\u00e9p\u00f4t-\u4e2d\u6587");
        Handle handle = BeginHandle();
        PostFields fields;
        std::string url = kHttp + "/x?body=payload&disposition=" + row.disposition;
        EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), &fields, folder.path.c_str(), 0),
                  1);
        EXPECT_EQ(FolderContents(folder.path), row.stored + std::string("=payload;"));
    }
}

// Each file goes up to a URL (the name announced on the wire) and to the conference server's
// file service, and comes back from there by its name.
TEST(WinePaths, NamesMakeTheRoundTrip) {
    ASSERT_EQ(GetACP(), 1252u) << "the rows are written for the ANSI code page 1252";
    // clang-format off
    // Through the wide exports, or the narrow ones with the ANSI path; the name on the server as
    // Wine shows it (the file service keeps the name's bytes; Wine shows a byte E9 as U+FFFD).
    const struct { const char* name; const wchar_t* file; bool wide; const char* stored; } rows[] = {
        {"narrow ASCII", L"minutes.txt", false, "minutes.txt"},
        {"narrow ANSI", L"r\u00e9sum\u00e9.txt", false, "r\ufffdsum\ufffd.txt"},
        {"wide beyond ANSI", L"donn\u00e9es-\u4f1a\u8bae-\U0001F4C4.bin", true,
         "donn\u00e9es-\u4f1a\u8bae-\U0001F4C4.bin"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder local;
        const std::wstring source = local.File(row.file);
        const std::wstring copy = local.File(std::wstring(L"copy-") + row.file);
        const std::string content = std::string("content of ") + row.name;
        WriteFileBytes(source, content);
        const std::string session = NewTag(), tag = NewTag();
        ASSERT_TRUE(fs::create_directory(kFileRoot + L"\\" + Widen(session)));
        Handle handle = BeginHandle();
        PostFields fields;
        const std::string url = kHttp + "/rec/" + tag + "?body=OK", name = Ansi(row.file);
        const std::string narrowSource = Ansi(source), narrowCopy = Ansi(copy);
        const char* server = kFileService.c_str();
        TraceCapture trace;
        // clang-format off
        std::int32_t results[] = {
            row.wide ? ZEMUrlTransferFileW(handle.get(), url.c_str(), &fields, source.c_str(), 1)
                     : ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, narrowSource.c_str(), 1),
            row.wide ? ZEMKIVTransferFileW(handle.get(), server, session.c_str(), nullptr, source.c_str(), 1)
                     : ZEMKIVTransferFile(handle.get(), server, session.c_str(), nullptr, narrowSource.c_str(), 1),
            row.wide ? ZEMKIVTransferFileW(handle.get(), server, session.c_str(), row.file, copy.c_str(), 0)
                     : ZEMKIVTransferFile(handle.get(), server, session.c_str(), name.c_str(), narrowCopy.c_str(), 0)};
        // clang-format on
        EXPECT_EQ(std::vector<std::int32_t>(results, results + 3), std::vector<std::int32_t>(3, 1));
        // A wide path is announced, and traced, in UTF-8; a narrow one as its bytes.
        const std::string shown = row.wide ? Utf8(source) : narrowSource;
        EXPECT_EQ(BodyOf(ReadRecord(tag)),
                  Part("file_num", "1") + Part("file1", content, shown.c_str()) + kClosing);
        const std::string begin =
            row.wide ? "ZEMKIVUploadFileW Begin: " : "ZEMKIVUploadFile Begin: ";
        EXPECT_TRUE(trace.Has(begin + server + ", " + session + ", " + shown));
        EXPECT_EQ(ReadFileBytes(copy), content);
        EXPECT_EQ(FolderContents(kFileRoot + L"\\" + Widen(session)),
                  row.stored + ("=" + content + ";"));
    }
}

}  // namespace
}  // namespace wine_testing
