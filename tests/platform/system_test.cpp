// The POSIX system backend: text conversion and the settings store.
#include "platform/system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/real_servers.h"

namespace {

using namespace zemuser::platform;
using namespace testing_support;

constexpr const char* kKey = "Software\\Test Key";

// A value read through a new key; -1 when it is missing.
std::int64_t ReadValue(const char* name) {
    auto key = OpenUserSettingsKey(kKey);
    std::uint32_t value = 0;
    return key != nullptr && key->ReadNumber(name, &value) ? std::int64_t{value} : -1;
}

// Text that does not convert cleanly, and one sequence of each length.
TEST(SystemText, Utf16AndUtf8) {
    const char16_t lone[] = {u'x', 0xD800, u'y', 0}, loneAtEnd[] = {u'a', 0xDC00, 0};
    EXPECT_EQ(Utf8FromWide(lone), "x\xef\xbf\xbdy");  // U+FFFD, as Windows makes it
    EXPECT_EQ(Utf8FromWide(loneAtEnd), "a\xef\xbf\xbd");
    EXPECT_EQ(Utf8FromWide(nullptr), "");
    const struct {
        const char* narrow;
        std::u16string wide;
    } rows[] = {
        // clang-format off
        {"\xed\xa0\x80!", u"\uFFFD\uFFFD\uFFFD!"}, {"\xe6\x97", u"\uFFFD"}, {"\xc0\xaf", u"\uFFFD\uFFFD"},
        {nullptr, u""}, {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", u"\u00E9\u20AC\U0001F600"},
        // clang-format on
    };
    for (const auto& row : rows) EXPECT_EQ(WideFromNarrow(row.narrow), row.wide) << row.narrow;
}

TEST(SettingsStore, WritesAndReadsThroughANewKey) {
    const std::string foreign = "Windows Registry Editor Version 5.00\n\n\"T\"=hex:01\n";
    const struct {
        const char* name;
        std::string before;  // the file's text; empty: no file
        std::vector<std::pair<const char*, std::uint32_t>> writes;
        std::string after;                                        // empty: as it was
        std::vector<std::pair<const char*, std::int64_t>> reads;  // -1: missing
    } rows[] = {
        // clang-format off
        {"foreign lines and the stored spelling stay",
         foreign + "\"ENABLEHTTP1_1\"=dword:1\r\n\"EnableHttp1_1\"=dword:2\n", {{"EnableHttp1_1", 0}},
         foreign + "\"ENABLEHTTP1_1\"=dword:00000000\n", {{"EnableHttp1_1", 0}, {"T", -1}}},
        {"the last line counts; malformed is missing",
         "\"A\"=dword:1\n\"a\"=dword:2\n\"B\"=dword:xyz\n\"C\"=dword:123456789\n\"D\"=dword:3", {}, "",
         {{"A", 2}, {"B", -1}, {"C", -1}, {"D", 3}}},
        {"a value among others", "\"V\"=dword:0000000A\n\"W\"=dword:1\n", {{"v", 7}, {"V", 11}},
         "\"V\"=dword:0000000b\n\"W\"=dword:1\n", {{"V", 11}, {"W", 1}}},
        {"quotes and backslashes in names escaped", "", {{"a\"b\\c", 5}},
         "\"a\\\"b\\\\c\"=dword:00000005\n", {{"a\"b\\c", 5}}},
        {"too large to be settings", std::string(2 << 20, '"'), {{"V", 1}}, "", {{"V", -1}}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ScopedEnv store("ZEMUSER_SETTINGS_DIR", dir.path());
        const std::string file = dir.path() + "/HKEY_CURRENT_USER/Software/Test Key.reg";
        if (!row.before.empty())
            std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        if (!row.before.empty()) WriteFileBytes(file, row.before);
        auto key = OpenUserSettingsKey(kKey);
        ASSERT_NE(key, nullptr);
        for (const auto& [name, value] : row.writes) key->WriteNumber(name, value);
        key.reset();
        EXPECT_EQ(ReadFileBytes(file), row.after.empty() ? row.before : row.after);
        for (const auto& [name, value] : row.reads) EXPECT_EQ(ReadValue(name), value) << name;
    }
    for (const char* bad : {"..\\x", "A\\..\\B", "A\\\\B", "\\A", "A\\", "A/B"})
        EXPECT_EQ(OpenUserSettingsKey(bad), nullptr) << bad;
}

// Two processes rewriting the same store: a rewrite from a stale text would put an older
// value back, or lose the other's.
TEST(SettingsStore, TwoProcessesLoseNoValues) {
    TempDir dir;
    ScopedEnv store("ZEMUSER_SETTINGS_DIR", dir.path());
    auto rounds = [](const char* own) {
        bool kept = true;
        for (std::uint32_t round = 1; round <= 2000; ++round) {
            kept = (round == 1 || ReadValue(own) == round - 1) && kept;
            OpenUserSettingsKey(kKey)->WriteNumber(own, round);
        }
        return kept;
    };
    // Open before the fork: the child must take a lock of its own, not share the parent's.
    OpenUserSettingsKey(kKey)->WriteNumber("Parent", 0);
    const ChildEnd child =
        RunInChild([&] { return rounds("Child") ? 0 : 1; }, [&] { EXPECT_TRUE(rounds("Parent")); });
    EXPECT_TRUE(child.Succeeded()) << child.Describe();
    EXPECT_EQ(ReadValue("Child"), 2000);
    EXPECT_EQ(ReadValue("Parent"), 2000);
}

}  // namespace
