// Names a server announces that Windows must not take as they stand; narrow paths in the ANSI
// code page and wide paths beyond it making the round trip through uploads and downloads.
#include <windows.h>

#include "api/api_support.h"

namespace {

// In the ANSI code page, as a narrow export takes a path.
std::string Ansi(const std::wstring& wide) {
    std::string text(wide.size() * 2, '\0');
    text.resize(WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                    text.data(), static_cast<int>(text.size()), nullptr, nullptr));
    return text;
}

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
        TempDir base;
        const std::wstring folder = Widen(base.path()) + L"\\d\u00e9p\u00f4t-\u4e2d\u6587";
        ASSERT_TRUE(fs::create_directory(folder));
        OwnedHandle handle = BeginHandle();
        ScriptedServer server(Answer(HttpResponse(
            200, "payload",
            {"Content-Disposition: attachment; filename=" + std::string(row.filename)})));
        EXPECT_EQ(
            ZEMUrlTransferFileW(handle.get(), server.url().c_str(), nullptr, folder.c_str(), 0), 1);
        EXPECT_EQ(FilesBelow(folder), std::set<std::string>{row.stored});
        EXPECT_EQ(ReadFileBytes(fs::path(folder) / fs::u8path(row.stored)), "payload");
    }
}

// Each file goes up to a conference server and comes back from it by its name, through the wide
// exports or the narrow ones with the ANSI path: names and paths go as UTF-8 (wide) or as their
// ANSI bytes (narrow), on the wire and in the trace.
TEST(WinePaths, NamesMakeTheRoundTrip) {
    // clang-format off
    const struct { const char* name; const wchar_t* file; bool wide; const char* sent; } rows[] = {
        {"narrow, ANSI code page 1252", L"r\u00e9sum\u00e9.txt", false, "r\xE9sum\xE9.txt"},
        {"wide beyond ANSI", L"donn\u00e9es-\u4f1a\u8bae-\U0001F4C4.bin", true,
         u8"donn\u00e9es-\u4f1a\u8bae-\U0001F4C4.bin"},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string content = std::string("content of ") + row.name;
        ScriptedServer server([&content](ScriptedConnection& connection) {
            const bool download =
                connection.ReadRequest().find("&act=download&") != std::string::npos;
            connection.Send(HttpResponse(200, download ? content : "OK"));
        });
        TempDir local;
        const std::wstring source = Widen(local.path()) + L"\\" + row.file,
                           copy = Widen(local.path()) + L"\\copy";
        const std::string sent = row.wide ? fs::path(source).u8string() : Ansi(source);
        ASSERT_TRUE(std::ofstream(fs::path(source), std::ios::binary) << content);
        OwnedHandle handle = BeginHandle();
        TraceFile trace;
        auto transfer = [&](const wchar_t* name, const std::wstring& path, std::int32_t upload) {
            return row.wide ? ZEMKIVTransferFileW(handle.get(), server.url().c_str(), "s", name,
                                                  path.c_str(), upload)
                            : ZEMKIVTransferFile(handle.get(), server.url().c_str(), "s",
                                                 name ? Ansi(name).c_str() : nullptr,
                                                 Ansi(path).c_str(), upload);
        };
        EXPECT_EQ(transfer(nullptr, source, 1), 1);
        EXPECT_EQ(transfer(row.file, copy, 0), 1);
        EXPECT_TRUE(
            trace.Contains((row.wide ? "ZEMKIVUploadFileW Begin: " : "ZEMKIVUploadFile Begin: ") +
                           server.url() + ", s, " + sent + "\n"));
        const std::vector<std::string> requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(ParseRequest(requests[0]).body,
                  TextPart("x", "kivStuff") + TextPart("act", "upload") +
                      TextPart("session_id", "s") + TextPart("file_num", "1") +
                      FilePart("file1", sent, &content) + ClosingDelimiter());
        EXPECT_EQ(ParseRequest(requests[1]).body,
                  "x=kivStuff&act=download&session_id=s&filename=" + std::string(row.sent));
        EXPECT_EQ(ReadFileBytes(copy), content);
    }
}

}  // namespace
