#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform_child_process.h"
#include "support/real_servers.h"

namespace {

using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

TEST(PlatformFiles, CreateAlwaysTruncatesAnExistingFile) {
    TempDir dir;
    const std::string path = dir.File("out.bin");
    WriteFileBytes(path, "previous, longer content");

    HANDLE file = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    EXPECT_TRUE(WriteAll(file, "new"));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadFileBytes(path), "new");
}

TEST(PlatformFiles, DispositionsFollowWindows) {
    TempDir dir;
    const std::string existing = dir.File("existing");
    const std::string missing = dir.File("missing");
    WriteFileBytes(existing, "abc");

    EXPECT_EQ(Open(existing, GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(Open(missing, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(existing + "/below", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Open(existing, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Open(existing, GENERIC_READ, 99), INVALID_HANDLE_VALUE);

    HANDLE kept = Open(existing, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(kept, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(GetFileSize(kept, nullptr), 3u);
    CloseHandle(kept);

    HANDLE created = Open(missing, GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(created);

    HANDLE emptied = Open(existing, GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_NE(emptied, INVALID_HANDLE_VALUE);
    CloseHandle(emptied);
    EXPECT_EQ(ReadFileBytes(existing), "");
}

TEST(PlatformFiles, FolderCannotBeOpenedAsAFile) {
    TempDir dir;
    EXPECT_EQ(Open(dir.path(), GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Open(dir.path(), GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(PlatformFiles, WidePathReachesTheFileOfItsUtf8Name) {
    TempDir dir;
    const std::u16string name = u"r\u00e9sum\u00e9-\u65e5\u672c-\U0001F600.txt";
    const std::string utf8Name =
        "r\xc3\xa9sum\xc3\xa9-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x98\x80.txt";
    std::u16string widePath;
    for (char c : dir.path() + "/") widePath.push_back(static_cast<char16_t>(c));
    widePath += name;

    HANDLE file = CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteAll(file, "wide"));
    CloseHandle(file);

    EXPECT_EQ(ReadFileBytes(dir.File(utf8Name)), "wide");
    EXPECT_EQ(GetFileAttributesW(widePath.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(DeleteFileW(widePath.c_str()));
    EXPECT_FALSE(FileExists(dir.File(utf8Name)));
}

TEST(PlatformFiles, WidePathWithLoneSurrogateIsRefused) {
    TempDir dir;
    std::u16string widePath;
    for (char c : dir.path() + "/a") widePath.push_back(static_cast<char16_t>(c));
    widePath.push_back(0xD800);
    EXPECT_EQ(CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(FileExists(dir.File("a\xef\xbf\xbd")));
}

TEST(PlatformFiles, ReadsInPiecesUntilEndOfFile) {
    TempDir dir;
    std::string content(3000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    WriteFileBytes(dir.File("in.bin"), content);

    HANDLE file = Open(dir.File("in.bin"), GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string read;
    char piece[1024];
    DWORD count = 0;
    while (ReadFile(file, piece, sizeof piece, &count, nullptr) && count > 0) {
        read.append(piece, count);
    }
    EXPECT_EQ(count, 0u);  // end of file is success with nothing read
    EXPECT_EQ(read, content);

    // The handle was opened for reading only.
    DWORD written = 99;
    EXPECT_FALSE(WriteFile(file, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(CloseHandle(file));
}

TEST(PlatformFiles, SizeAbove4GiBHasItsHighPart) {
    TempDir dir;
    const std::string path = dir.File("sparse");
    WriteFileBytes(path, "");
    ASSERT_EQ(truncate(path.c_str(), (5LL << 30) + 7), 0);  // sparse: no disk space used

    HANDLE file = Open(path, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 0;
    EXPECT_EQ(GetFileSize(file, &high), 0x40000007u);
    EXPECT_EQ(high, 1u);
    CloseHandle(file);
}

TEST(PlatformFiles, WriteOnFullDiskReportsWhatReachedTheFile) {
    TempDir dir;
    const std::string path = dir.File("full.bin");
    constexpr rlim_t kRoom = 1000;
    // The file size limit stands in for a full disk; it is set in a child so that it cannot
    // affect the rest of the tests.
    const bool childAsExpected = platform_test::RunInChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kRoom, kRoom};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
        HANDLE file = Open(path, GENERIC_WRITE, CREATE_ALWAYS);
        if (file == INVALID_HANDLE_VALUE) return false;
        const std::string data(5000, 'x');
        DWORD written = 0;
        const BOOL result = WriteFile(file, data.data(), 5000, &written, nullptr);
        const DWORD error = GetLastError();
        CloseHandle(file);
        return result == FALSE && written == kRoom && error == ERROR_DISK_FULL;
    });
    EXPECT_TRUE(childAsExpected);
    EXPECT_EQ(ReadFileBytes(path), std::string(kRoom, 'x'));
}

TEST(PlatformFiles, AttributesTellFoldersFilesAndMissingPaths) {
    TempDir dir;
    WriteFileBytes(dir.File("plain"), "x");
    WriteFileBytes(dir.File("locked"), "x");
    ASSERT_EQ(chmod(dir.File("locked").c_str(), 0444), 0);

    EXPECT_EQ(GetFileAttributesA(dir.path().c_str()), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(u"/"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesA(dir.File("plain").c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesA(dir.File("locked").c_str()), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(GetFileAttributesA(dir.File("missing").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(nullptr), INVALID_FILE_ATTRIBUTES);
}

TEST(PlatformFiles, DeleteRemovesFilesButNotFolders) {
    TempDir dir;
    WriteFileBytes(dir.File("doomed"), "x");
    EXPECT_TRUE(DeleteFileA(dir.File("doomed").c_str()));
    EXPECT_FALSE(FileExists(dir.File("doomed")));
    EXPECT_FALSE(DeleteFileA(dir.File("doomed").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA(dir.path().c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(PlatformFiles, UnknownAndClosedHandlesFailCleanly) {
    TempDir dir;
    HANDLE file = Open(dir.File("f"), GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));

    int notAFile = 0;
    for (HANDLE bogus : {file, INVALID_HANDLE_VALUE, HANDLE{nullptr}, HANDLE{&notAFile}}) {
        EXPECT_FALSE(CloseHandle(bogus));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        char buffer[4];
        DWORD count = 7;
        EXPECT_FALSE(ReadFile(bogus, buffer, sizeof buffer, &count, nullptr));
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(WriteFile(bogus, buffer, sizeof buffer, &count, nullptr));
        EXPECT_EQ(GetFileSize(bogus, nullptr), INVALID_FILE_SIZE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

TEST(PlatformFiles, FileNamesThatCannotNameAFileHere) {
    EXPECT_STREQ(platform::PathSeparator(), "/");
    EXPECT_EQ(std::u16string(platform::WidePathSeparator()), u"/");
    EXPECT_FALSE(platform::IsUnusableFileName("report.txt"));
    EXPECT_FALSE(platform::IsUnusableFileName("con"));  // a device only on Windows
    EXPECT_FALSE(platform::IsUnusableFileName("a:b"));
    EXPECT_TRUE(platform::IsUnusableFileName("../x"));
    EXPECT_TRUE(platform::IsUnusableFileName(".."));
    EXPECT_TRUE(platform::IsUnusableFileName("."));
    EXPECT_TRUE(platform::IsUnusableFileName(std::string("a\0b", 3)));
}

}  // namespace
