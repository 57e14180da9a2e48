// The POSIX system backend: text conversion, replacement files and the settings store.
#include "platform/system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/real_servers.h"

namespace {

using namespace zemuser::platform;
using namespace testing_support;
namespace fs = std::filesystem;

constexpr const char* kKey = "Software\\Test Key";
constexpr const char* kKeyFile = "/HKEY_CURRENT_USER/Software/Test Key.reg";

std::optional<std::uint32_t> ReadValue(const char* name) {
    auto key = OpenUserSettingsKey(kKey);
    std::uint32_t value = 0;
    if (key == nullptr || !key->ReadNumber(name, &value)) return std::nullopt;
    return value;
}

TEST(SystemText, Utf16AndUtf8) {
    const char16_t lone[] = {u'x', 0xD800, u'y', 0};
    enum Way { Both, ToUtf8, ToWide };
    const struct {
        const char* name;
        const char16_t* wide;
        const char* utf8;
        Way way;
    } rows[] = {
        {"BMP", u"r\u00e9sum\u00e9 \u65e5", "r\xc3\xa9sum\xc3\xa9 \xe6\x97\xa5", Both},
        {"astral", u"a\U0001F600", "a\xf0\x9f\x98\x80", Both},
        {"empty", u"", "", Both},
        {"null", nullptr, nullptr, Both},
        {"lone surrogate", lone, "x\xef\xbf\xbdy", ToUtf8},  // U+FFFD, as Windows makes it
        {"encoded surrogate", u"\uFFFD\uFFFD\uFFFD!", "\xed\xa0\x80!", ToWide},
        {"cut short", u"\uFFFD", "\xe6\x97", ToWide},
        {"overlong", u"\uFFFD\uFFFD", "\xc0\xaf", ToWide},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_TRUE(row.way == ToWide || Utf8FromWide(row.wide) == (row.utf8 ? row.utf8 : ""));
        EXPECT_TRUE(row.way == ToUtf8 || WideFromNarrow(row.utf8) == (row.wide ? row.wide : u""));
    }
}

// A target that is a link is replaced as a name, never written through.
TEST(SystemFiles, ReplacementFileLeavesTheTargetAloneUntilCommitted) {
    const struct {
        const char* name;
        const char* target;  // the target's content before; "@" a link to elsewhere.txt
        bool commit;
    } rows[] = {{"new target, committed", nullptr, true},
                {"old target, committed", "old", true},
                {"old target, dropped", "old", false},
                {"a link, committed", "@", true},
                {"a link, dropped", "@", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string target = dir.File("report.txt"), elsewhere = dir.File("elsewhere.txt");
        auto content = [&] { return FileExists(target) ? ReadFileBytes(target) : "<none>"; };
        EXPECT_TRUE(!row.target ||
                    (row.target[0] == '@' ? symlink(elsewhere.c_str(), target.c_str()) == 0
                                          : (WriteFileBytes(target, row.target), true)));
        const std::string before = content();
        {
            ReplacementFile file = ReplacementFile::Create(target.c_str());
            EXPECT_TRUE(file.Write("new", 3));
            EXPECT_EQ(content(), before);
            EXPECT_TRUE(!row.commit || file.Commit());
        }
        EXPECT_EQ(content(), row.commit ? "new" : before);
        EXPECT_FALSE(FileExists(elsewhere));
        // Nothing else is left behind.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
                  row.commit || row.target ? 1 : 0);
    }
    TempDir dir;
    EXPECT_FALSE(ReplacementFile::Create(dir.path().c_str()).IsOpen());  // a folder
    EXPECT_FALSE(ReplacementFile::Create(dir.File("no/such/folder/f").c_str()).IsOpen());
}

TEST(SettingsStore, WritesAndReadsThroughANewKey) {
    using Reads = std::vector<std::pair<const char*, std::optional<std::uint32_t>>>;
    const std::string foreign = "Windows Registry Editor Version 5.00\n\n\"T\"=hex:01\n";
    const struct {
        const char* name;
        std::optional<std::string> before;  // the file's text; none: no file
        std::vector<std::pair<const char*, std::uint32_t>> writes;
        std::optional<std::string> after;  // none: the file is not rewritten
        Reads reads;
    } rows[] = {
        // clang-format off
        {"new file", std::nullopt, {{"EnableHttp1_1", 10}, {"ProxyHttp1.1", 0}},
         "\"EnableHttp1_1\"=dword:0000000a\n\"ProxyHttp1.1\"=dword:00000000\n",
         Reads{{"enablehttp1_1", 10}, {"ProxyHttp1.1", 0}, {"Absent", std::nullopt}}},
        {"foreign lines and the stored spelling stay",
         foreign + "\"ENABLEHTTP1_1\"=dword:1\r\n\"EnableHttp1_1\"=dword:2\n", {{"EnableHttp1_1", 0}},
         foreign + "\"ENABLEHTTP1_1\"=dword:00000000\n", Reads{{"EnableHttp1_1", 0}, {"T", std::nullopt}}},
        {"the last line counts; malformed is missing",
         "\"A\"=dword:1\n\"a\"=dword:2\n\"B\"=dword:xyz\n\"C\"=dword:123456789\n\"D\"=dword:3", {},
         std::nullopt, Reads{{"A", 2}, {"B", std::nullopt}, {"C", std::nullopt}, {"D", 3}}},
        {"an unchanged value", "\"V\"=dword:00000000\n", {{"V", 0}}, std::nullopt, Reads{{"V", 0}}},
        {"a value among others", "\"V\"=dword:0000000A\n\"W\"=dword:1\n", {{"v", 7}, {"V", 11}},
         "\"V\"=dword:0000000b\n\"W\"=dword:1\n", Reads{{"V", 11}, {"W", 1}}},
        {"a shorter text", "\"V\"=dword:00000000\n\"v\"=dword:00000001\n", {{"V", 7}},
         "\"V\"=dword:00000007\n", Reads{{"V", 7}}},
        {"unstorable names", std::nullopt, {{"Two\nLines", 1}, {"Q\"\\", 2}},
         "\"Q\\\"\\\\\"=dword:00000002\n", Reads{{"Q\"\\", 2}, {"Two\nLines", std::nullopt}}},
        {"too large to be settings", std::string(2 << 20, '"'), {{"V", 1}}, std::nullopt,
         Reads{{"V", std::nullopt}}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ScopedEnv store("ZEMUSER_SETTINGS_DIR", dir.path());
        const std::string file = dir.path() + kKeyFile;
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        if (row.before) {
            fs::create_directories(fs::path(file).parent_path());
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
    const struct {
        std::string settings, config, home, folder;
    } rows[] = {{dir.File("s"), dir.File("x"), dir.File("h"), dir.File("s")},
                {"", dir.File("x"), dir.File("h"), dir.File("x/zemuser")},
                {"", "relative", dir.File("h"), dir.File("h/.config/zemuser")}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.folder);
        ScopedEnv s("ZEMUSER_SETTINGS_DIR", row.settings), x("XDG_CONFIG_HOME", row.config),
            h("HOME", row.home);
        OpenUserSettingsKey(kKey)->WriteNumber("V", 1);
        EXPECT_EQ(ReadFileBytes(row.folder + kKeyFile), "\"V\"=dword:00000001\n");
    }
    for (const char* bad : {"..\\x", "A\\..\\B", "A\\\\B", "\\A", "A\\", "A/B"})
        EXPECT_EQ(OpenUserSettingsKey(bad), nullptr) << bad;
}

// Each round reads its own last value and the other's first; a rewrite from a stale text
// would put an older value back.
TEST(SettingsStore, TwoProcessesLoseNoValues) {
    TempDir dir;
    ScopedEnv store("ZEMUSER_SETTINGS_DIR", dir.path());
    OpenUserSettingsKey(kKey)->WriteNumber("Shared", 1);
    constexpr std::uint32_t kRounds = 500;
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
    const ChildEnd child =
        RunInChild([&] { return rounds("Child") ? 0 : 1; }, [&] { EXPECT_TRUE(rounds("Parent")); });
    EXPECT_TRUE(child.Succeeded()) << child.Describe();
    EXPECT_EQ(ReadValue("Child"), kRounds);
    EXPECT_EQ(ReadValue("Parent"), kRounds);
}

TEST(SettingsStore, FoldersThatCannotBeWrittenDropTheWrites) {
    TempDir dir;
    const std::string file = dir.File("store") + kKeyFile;
    fs::create_directories(fs::path(file).parent_path());
    WriteFileBytes(file, "\"A\"=dword:00000005\n");
    const auto setModes = [&](const char* mode) {
        return RunCommand(std::string("chmod -R ") + mode + " '" + dir.path() + "'");
    };
    ASSERT_EQ(setModes("555"), "");
    {
        ScopedEnv store("ZEMUSER_SETTINGS_DIR", dir.File("store"));
        // Read-only for its owner and, as root is not held back, for the user nobody.
        const ChildEnd child = RunInChild([] {
            if (geteuid() == 0 && setuid(65534) != 0) return 2;
            auto key = OpenUserSettingsKey(kKey);
            std::uint32_t value = 0;
            if (!key || !key->ReadNumber("A", &value) || value != 5) return 1;
            key->WriteNumber("A", 6);
            key.reset();
            return ReadValue("A") == 5u ? 0 : 1;
        });
        EXPECT_TRUE(child.Succeeded()) << child.Describe();
    }
    ASSERT_EQ(setModes("755"), "");
    EXPECT_EQ(ReadFileBytes(file), "\"A\"=dword:00000005\n");
    EXPECT_FALSE(FileExists(file + ".lock"));
    WriteFileBytes(dir.File("plain"), "");  // a file where a folder should be
    ScopedEnv store("ZEMUSER_SETTINGS_DIR", dir.File("plain") + "/store");
    if (auto key = OpenUserSettingsKey(kKey)) key->WriteNumber("A", 1);
    EXPECT_EQ(ReadValue("A"), std::nullopt);
}

}  // namespace
