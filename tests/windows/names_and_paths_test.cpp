// Names a server announces that Windows must not take as they stand; narrow paths in the ANSI
// code page and wide paths beyond it making the round trip through uploads and downloads.
#include "wine_support.h"

namespace wine_testing {
namespace {

// Into a wide folder beyond the ANSI code page; the announced name is ANSI text.
TEST(WineNames, AnnouncedNameIsStoredInsideTheFolderUnderAWindowsName) {
    ASSERT_EQ(GetACP(), 1252u) << "the rows are written for the ANSI code page 1252";
    // clang-format off
    // The announced name in ANSI bytes; the file made in the folder, in UTF-8.
    const struct { const char* name; const char* filename; const char* stored; } rows[] = {
        {"ANSI letters", "r\xE9sum\xE9.txt", "r\u00e9sum\u00e9.txt"},
        {"backslash climb", "..\\..\\up.txt", "up.txt"},
        {"drive colon, refused characters", "c:a<b>|?*.txt", "cab.txt"},
        {"device with extension", "nul.txt", "unknown"},
        {"numbered device", "Lpt9.tar.gz", "unknown"},
        {"device, blank", "com1 .log", "unknown"},
        {"device, superscript one", "COM\xB9", "unknown"},
        {"trailing dot", "report.txt.", "unknown"},
        {"no device", "COM10", "COM10"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder folder(L"-d\u00e9p\u00f4t-\u4e2d\u6587");
        OwnedHandle handle = BeginHandle();
        ScriptedServer server(Answer(HttpResponse(
            200, "payload",
            {"Content-Disposition: attachment; filename=" + std::string(row.filename)})));
        EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), server.url().c_str(), nullptr,
                                      folder.path.c_str(), 0),
                  1);
        EXPECT_EQ(FolderContents(folder.path), row.stored + std::string("=payload;"));
    }
}

// Each file goes up to the conference server's file service and comes back from there by its
// name, through the wide exports or the narrow ones with the ANSI path.
TEST(WinePaths, NamesMakeTheRoundTrip) {
    ASSERT_EQ(GetACP(), 1252u) << "the rows are written for the ANSI code page 1252";
    // clang-format off
    // The name on the server as Wine shows it (the service keeps the name's bytes; Wine shows a
    // byte E9 as U+FFFD).
    const struct { const char* name; const wchar_t* file; bool wide; const char* stored; } rows[] = {
        {"narrow ANSI", L"r\u00e9sum\u00e9.txt", false, "r\ufffdsum\ufffd.txt"},
        {"wide beyond ANSI", L"donn\u00e9es-\u4f1a\u8bae-\U0001F4C4.bin", true,
         "donn\u00e9es-\u4f1a\u8bae-\U0001F4C4.bin"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScratchFolder local;
        const std::wstring source = local.File(row.file);
        const std::string content = std::string("content of ") + row.name,
                          session = fs::path(local.base.path()).filename().string();  // unique
        const fs::path stored = kFileRoot + L"\\" + Widen(session);
        ASSERT_TRUE(std::ofstream(fs::path(source), std::ios::binary) << content);
        ASSERT_TRUE(fs::create_directory(stored));
        OwnedHandle handle = BeginHandle();
        TraceFile trace;
        auto transfer = [&](const wchar_t* name, const std::wstring& path, std::int32_t upload) {
            const char* server = kFileService.c_str();
            return row.wide ? ZEMKIVTransferFileW(handle.get(), server, session.c_str(), name,
                                                  path.c_str(), upload)
                            : ZEMKIVTransferFile(handle.get(), server, session.c_str(),
                                                 name ? Ansi(name).c_str() : nullptr,
                                                 Ansi(path).c_str(), upload);
        };
        EXPECT_EQ(transfer(nullptr, source, 1), 1);
        EXPECT_EQ(transfer(row.file, local.File(L"copy"), 0), 1);
        // A wide path is traced in UTF-8, a narrow one as its bytes.
        EXPECT_TRUE(
            trace.Contains((row.wide ? "ZEMKIVUploadFileW Begin: " : "ZEMKIVUploadFile Begin: ") +
                           kFileService + ", " + session + ", " +
                           (row.wide ? fs::path(source).u8string() : Ansi(source)) + "\n"));
        EXPECT_EQ(ReadFileBytes(local.File(L"copy")), content);
        EXPECT_EQ(FolderContents(stored), row.stored + ("=" + content + ";"));
    }
}

}  // namespace
}  // namespace wine_testing
