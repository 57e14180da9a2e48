// The POSIX system backend below the engine: text, files, the user's settings store and the CPU
// clock.
#include "platform/system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/real_servers.h"

namespace {

using namespace zemuser::platform;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::RunInChild;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

constexpr const char* kKey = "Software\\Test Key";
constexpr const char* kKeyFile = "/HKEY_CURRENT_USER/Software/Test Key.reg";

std::optional<std::uint32_t> ReadValue(const char* name) {
    auto key = OpenUserSettingsKey(kKey);
    std::uint32_t value = 0;
    if (key == nullptr || !key->ReadNumber(name, &value)) return std::nullopt;
    return value;
}

WideString Wide(const std::u16string& text) {
    return WideString(text.begin(), text.end());
}

TEST(SystemText, ConvertsBetweenUtf16AndUtf8) {
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    struct Row {
        const char* name;
        const char16_t* wide;
        const char* utf8;
    };
    // A lone surrogate becomes U+FFFD, as the conversion of Windows makes it.
    for (const Row& row :
         std::vector<Row>{{"BMP", u"r\u00e9sum\u00e9 \u65e5", "r\xc3\xa9sum\xc3\xa9 \xe6\x97\xa5"},
                          {"astral", u"a\U0001F600", "a\xf0\x9f\x98\x80"},
                          {"lone surrogate", lone, "x\xef\xbf\xbdy"},
                          {"empty", u"", ""},
                          {"null", nullptr, ""}}) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Utf8FromWide(row.wide), row.utf8);
    }
    const char16_t kBad = 0xFFFD;
    for (const auto& [narrow, wide] : std::vector<std::pair<const char*, std::u16string>>{
             {"r\xc3\xa9sum\xc3\xa9 \xe6\x97\xa5", u"r\u00e9sum\u00e9 \u65e5"},
             {"a\xf0\x9f\x98\x80", u"a\U0001F600"},
             {"\xed\xa0\x80!", {kBad, kBad, kBad, u'!'}},  // an encoded surrogate
             {"\xe6\x97", {kBad}},                         // cut short
             {"\xc0\xaf", {kBad, kBad}},                   // overlong
             {"", u""},
             {nullptr, u""}}) {
        SCOPED_TRACE(narrow != nullptr ? narrow : "null");
        EXPECT_EQ(WideFromNarrow(narrow), Wide(wide));
    }
}

TEST(SystemFiles, NamesReachTheirFilesAndFoldersAreNoFiles) {
    TempDir dir;
    const std::string utf8Name = "r\xc3\xa9sum\xc3\xa9-\xe6\x97\xa5-\xf0\x9f\x98\x80.txt";
    WriteFileBytes(dir.File("abc"), "abc");
    WriteFileBytes(dir.File("empty"), "");
    WriteFileBytes(dir.File(utf8Name), "wide!");
    WriteFileBytes(dir.File("a\xef\xbf\xbd"), "substitute");  // what a lone surrogate repairs to
    std::filesystem::create_directory(dir.File("folder"));
    const char16_t lone[] = {u'a', 0xD800, 0};
    struct Row {
        std::u16string name;
        const char* utf8;  // none for a name that has no UTF-8 form
        bool opens;
        std::uint64_t size;
        bool folder;
    };
    // Each row through the narrow calls with the UTF-8 name, then the wide calls, which delete.
    for (const Row& row : std::vector<Row>{
             {u"abc", "abc", true, 3, false},
             {u"empty", "empty", true, 0, false},
             {u"folder", "folder", false, 0, true},
             {u"missing", "missing", false, 0, false},
             {u"r\u00e9sum\u00e9-\u65e5-\U0001F600.txt", utf8Name.c_str(), true, 5, false},
             {lone, nullptr, false, 0, false}}) {
        const WideString wide =
            Wide(std::u16string(dir.path().begin(), dir.path().end()) + u"/" + row.name);
        SCOPED_TRACE(Utf8FromWide(wide.c_str()));
        if (row.utf8 != nullptr) {
            const std::string narrow = dir.File(row.utf8);
            EXPECT_EQ(InputFile::Open(narrow.c_str()).Size(), row.size);
            EXPECT_EQ(IsFolder(narrow.c_str()), row.folder);
        }
        InputFile in = InputFile::Open(wide.c_str());
        EXPECT_EQ(in.IsOpen(), row.opens);
        EXPECT_EQ(in.Size(), row.size);
        EXPECT_EQ(IsFolder(wide.c_str()), row.folder);
        in = InputFile();  // closed before it is deleted
        EXPECT_EQ(RemoveFile(wide.c_str()), row.opens);
        if (row.opens) {
            EXPECT_FALSE(FileExists(dir.File(row.utf8)));
        }
    }
    EXPECT_EQ(ReadFileBytes(dir.File("a\xef\xbf\xbd")), "substitute");
}

// A download's file takes the target's place only when committed; a target that is a link is
// replaced as a name, never written through.
TEST(SystemFiles, ReplacementFileLeavesTheTargetAloneUntilCommitted) {
    struct Row {
        const char* what;
        bool targetExists;
        bool targetIsLink;
        bool commit;
    };
    const Row rows[] = {
        {"new target, committed", false, false, true},
        {"existing target, committed", true, false, true},
        {"existing target, dropped", true, false, false},
        {"target a link, committed", false, true, true},
        {"target a link, dropped", false, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        const std::string target = dir.File("report.txt");
        const std::string elsewhere = dir.File("elsewhere.txt");
        if (row.targetExists) {
            WriteFileBytes(target, "old");
        }
        if (row.targetIsLink) {
            ASSERT_EQ(::symlink(elsewhere.c_str(), target.c_str()), 0);
        }
        {
            ReplacementFile file = ReplacementFile::Create(target.c_str());
            ASSERT_TRUE(file.IsOpen());
            EXPECT_TRUE(file.Write("new", 3));
            EXPECT_EQ(FileExists(target) ? ReadFileBytes(target) : "",
                      row.targetExists ? "old" : "");
            if (row.commit) {
                EXPECT_TRUE(file.Commit());
            }
        }
        const std::string expected = row.commit ? "new" : row.targetExists ? "old" : "";
        EXPECT_EQ(FileExists(target) ? ReadFileBytes(target) : "", expected);
        EXPECT_FALSE(FileExists(elsewhere));  // nothing went through the link
        std::size_t entries = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            (void)entry;
            ++entries;
        }
        // Nothing else is left behind: the target (or the link) at most.
        EXPECT_EQ(entries, (row.commit || row.targetExists || row.targetIsLink) ? 1u : 0u);
    }
    TempDir dir;
    EXPECT_FALSE(ReplacementFile::Create(dir.path().c_str()).IsOpen());  // a folder
    EXPECT_FALSE(ReplacementFile::Create(dir.File("no/such/folder/f").c_str()).IsOpen());
}

TEST(SettingsStore, FileTextAfterWritesAndReadsThroughANewKey) {
    using Reads = std::vector<std::pair<const char*, std::optional<std::uint32_t>>>;
    struct Row {
        const char* name;
        std::optional<std::string> before;  // the file's text; none: no file
        std::vector<std::pair<const char*, std::uint32_t>> writes;
        std::optional<std::string> after;  // none: not written at all
        Reads reads;
    };
    const char* const kForeign = "Windows Registry Editor Version 5.00\n\n\"T\"=hex:01\n";
    // clang-format off
    for (const Row& row : std::vector<Row>{
        {"new file", std::nullopt, {{"EnableHttp1_1", 10}, {"ProxyHttp1.1", 0}},
         "\"EnableHttp1_1\"=dword:0000000a\n\"ProxyHttp1.1\"=dword:00000000\n",
         Reads{{"enablehttp1_1", 10}, {"ProxyHttp1.1", 0}, {"Absent", std::nullopt}}},
        {"foreign lines and the stored spelling stay",
         kForeign + std::string("\"ENABLEHTTP1_1\"=dword:1\r\n\"EnableHttp1_1\"=dword:2\n"),
         {{"EnableHttp1_1", 0}}, kForeign + std::string("\"ENABLEHTTP1_1\"=dword:00000000\n"),
         Reads{{"EnableHttp1_1", 0}, {"T", std::nullopt}}},
        {"last line counts, malformed is missing",
         "\"A\"=dword:1\n\"a\"=dword:2\n\"B\"=dword:xyz\n\"C\"=dword:123456789\n\"D\"=dword:3", {},
         std::nullopt, Reads{{"A", 2}, {"B", std::nullopt}, {"C", std::nullopt}, {"D", 3}}},
        {"unchanged value", "\"V\"=dword:00000000\n", {{"V", 0}}, std::nullopt, Reads{{"V", 0}}},
        {"value among others", "\"V\"=dword:0000000A\n\"W\"=dword:1\n", {{"v", 7}, {"V", 11}},
         "\"V\"=dword:0000000b\n\"W\"=dword:1\n", Reads{{"V", 11}, {"W", 1}}},
        {"shorter text", "\"V\"=dword:00000000\n\"v\"=dword:00000001\n", {{"V", 7}},
         "\"V\"=dword:00000007\n", Reads{{"V", 7}}},
        {"unstorable name", std::nullopt, {{"Two\nLines", 1}, {"Q\"\\", 2}},
         "\"Q\\\"\\\\\"=dword:00000002\n", Reads{{"Q\"\\", 2}, {"Two\nLines", std::nullopt}}},
        {"too large to be settings", std::string(2 << 20, '"'), {{"V", 1}}, std::nullopt,
         Reads{{"V", std::nullopt}}}}) {
        // clang-format on
        SCOPED_TRACE(row.name);
        TempDir dir;
        ScopedEnv store{"ZEMUSER_SETTINGS_DIR", dir.path()};
        const std::string file = dir.path() + kKeyFile;
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        if (row.before) {
            std::filesystem::create_directories(std::filesystem::path(file).parent_path());
            WriteFileBytes(file, *row.before);
            ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);  // a rewrite shows
        }
        auto key = OpenUserSettingsKey(kKey);
        ASSERT_NE(key, nullptr);
        for (const auto& [name, value] : row.writes) key->WriteNumber(name, value);
        key.reset();
        EXPECT_EQ(ReadFileBytes(file), row.after.value_or(row.before.value_or("")));
        struct stat status {};
        EXPECT_EQ(stat(file.c_str(), &status) == 0 && status.st_mtim.tv_sec == old[1].tv_sec,
                  !row.after);
        for (const auto& [name, value] : row.reads) EXPECT_EQ(ReadValue(name), value) << name;
    }
}

TEST(SettingsStore, FolderComesFromTheEnvironment) {
    TempDir dir;
    for (const auto& [settings, config, home, folder] : std::vector<std::array<std::string, 4>>{
             {dir.File("s"), dir.File("x"), dir.File("h"), dir.File("s")},
             {"", dir.File("x"), dir.File("h"), dir.File("x/zemuser")},
             {"", "relative", dir.File("h"), dir.File("h/.config/zemuser")}}) {
        SCOPED_TRACE(folder);
        ScopedEnv s{"ZEMUSER_SETTINGS_DIR", settings}, x{"XDG_CONFIG_HOME", config},
            h{"HOME", home};
        auto key = OpenUserSettingsKey(kKey);
        ASSERT_NE(key, nullptr);
        key->WriteNumber("V", 1);
        key.reset();
        EXPECT_EQ(ReadFileBytes(folder + kKeyFile), "\"V\"=dword:00000001\n");
    }
    for (const char* bad : {"..\\x", "A\\..\\B", "A\\\\B", "\\A", "A\\", "A/B"}) {
        EXPECT_EQ(OpenUserSettingsKey(bad), nullptr) << bad;
    }
}

TEST(SettingsStore, TwoProcessesSeeEachOthersValuesAndLoseNone) {
    TempDir dir;
    ScopedEnv store{"ZEMUSER_SETTINGS_DIR", dir.path()};
    OpenUserSettingsKey(kKey)->WriteNumber("Shared", 1);  // the child inherits an open file
    constexpr std::uint32_t kRounds = 500;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    // Each round finds its own last value and the other's; a rewrite from a stale text would
    // put an older value back.
    auto rounds = [](const char* own) {
        bool seen = true;
        for (std::uint32_t round = 1; round <= kRounds; ++round) {
            auto key = OpenUserSettingsKey(kKey);
            std::uint32_t mine = 0, shared = 0;
            seen = key->ReadNumber("Shared", &shared) && shared == 1 && seen;
            seen = (round == 1 || (key->ReadNumber(own, &mine) && mine == round - 1)) && seen;
            key->WriteNumber(own, round);
        }
        return seen;
    };
    EXPECT_TRUE(RunInChild(
                    [&] {
                        char go;
                        close(start[1]);
                        return read(start[0], &go, 1) == 1 && rounds("Child") ? 0 : 1;
                    },
                    [&] {
                        EXPECT_EQ(write(start[1], "g", 1), 1);  // both start at once
                        close(start[1]);
                        EXPECT_TRUE(rounds("Parent"));
                    })
                    .Succeeded());
    close(start[0]);
    EXPECT_EQ(ReadValue("Child"), kRounds);
    EXPECT_EQ(ReadValue("Parent"), kRounds);
}

TEST(SettingsStore, FoldersThatCannotBeWrittenDropTheWrites) {
    TempDir dir;
    const std::string file = dir.File("store") + kKeyFile;
    const auto parent = std::filesystem::path(file).parent_path();
    std::filesystem::create_directories(parent);
    WriteFileBytes(file, "\"A\"=dword:00000005\n");
    chmod(file.c_str(), 0644);
    // Read-only for its owner and, as root is not held back, for the user nobody.
    auto setFolderModes = [&](mode_t mode) {
        for (auto folder = parent; folder != std::filesystem::path(dir.path()).parent_path();
             folder = folder.parent_path())
            chmod(folder.c_str(), mode);
    };
    setFolderModes(0555);
    {
        ScopedEnv store{"ZEMUSER_SETTINGS_DIR", dir.File("store")};
        EXPECT_TRUE(RunInChild([] {
                        if (geteuid() == 0 && setuid(65534) != 0) return 2;
                        auto key = OpenUserSettingsKey(kKey);
                        std::uint32_t value = 0;
                        const bool readable =
                            key != nullptr && key->ReadNumber("A", &value) && value == 5;
                        if (key) key->WriteNumber("A", 6);
                        key.reset();
                        return readable && ReadValue("A") == 5u ? 0 : 1;
                    }).Succeeded());
    }
    setFolderModes(0755);
    EXPECT_EQ(ReadFileBytes(file), "\"A\"=dword:00000005\n");
    EXPECT_FALSE(FileExists(file + ".lock"));

    WriteFileBytes(dir.File("plain"), "");
    ScopedEnv store{"ZEMUSER_SETTINGS_DIR", dir.File("plain") + "/store"};
    if (auto key = OpenUserSettingsKey(kKey)) key->WriteNumber("A", 1);
    EXPECT_EQ(ReadValue("A"), std::nullopt);
}

TEST(SystemClock, WindowsEpochAndTheShapeOfTheMachinesTimes) {
    auto clock = OpenCpuClock();
    const auto unixSeconds = clock->SystemTime() / 10'000'000 - 11'644'473'600;
    EXPECT_NEAR(static_cast<double>(unixSeconds), static_cast<double>(std::time(nullptr)), 5.0);
    std::int64_t idle = 0, kernel = 0, user = 0, processKernel = 0, processUser = 0;
    ASSERT_TRUE(clock->SystemTimes(&idle, &kernel, &user));
    EXPECT_GT(idle, 0);
    EXPECT_GE(kernel, idle);  // the kernel time includes the idle time
    ASSERT_TRUE(clock->ProcessTimes(&processKernel, &processUser));
    EXPECT_GT(processKernel + processUser, 0);
}

}  // namespace
