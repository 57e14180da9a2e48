#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/settings_file.h"
#include "platform_child_process.h"
#include "support/real_servers.h"

namespace {

using platform::posix::SettingsDocument;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

constexpr const char* kSubKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const char* kKeyFile =
    "/HKEY_CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Internet Settings.reg";

TEST(PlatformSettingsFile, KeepsEveryLineItDoesNotOwn) {
    const std::string text =
        "Windows Registry Editor Version 5.00\n"
        "; a comment\n"
        "\"Text\"=\"some words\"\n"
        "\"EnableHttp1_1\"=dword:00000001\r\n"
        "\"Odd\"=dword:xyz\n"
        "\n"
        "\"Quoted \\\"name\\\" and \\\\\"=dword:0000002A\n";
    SettingsDocument document = SettingsDocument::Parse(text);
    EXPECT_EQ(document.Serialize(), text);

    EXPECT_EQ(document.FindDword("enablehttp1_1"), 1u);  // names ignore case
    EXPECT_EQ(document.FindDword("Quoted \"name\" and \\"), 42u);
    EXPECT_EQ(document.FindDword("Text"), std::nullopt);  // not a dword
    EXPECT_EQ(document.FindDword("Odd"), std::nullopt);   // malformed
    EXPECT_EQ(document.FindDword("Absent"), std::nullopt);

    document.SetDword("ENABLEHTTP1_1", 0);
    document.SetDword("New \"one\"", 10);
    EXPECT_EQ(document.Serialize(),
              "Windows Registry Editor Version 5.00\n"
              "; a comment\n"
              "\"Text\"=\"some words\"\n"
              "\"EnableHttp1_1\"=dword:00000000\n"
              "\"Odd\"=dword:xyz\n"
              "\n"
              "\"Quoted \\\"name\\\" and \\\\\"=dword:0000002A\n"
              "\"New \\\"one\\\"\"=dword:0000000a\n");
}

TEST(PlatformSettingsFile, RepeatedNamesAndOddShapes) {
    // As when such a file is imported, the last line for a name counts; a write leaves one.
    SettingsDocument document =
        SettingsDocument::Parse("\"A\"=dword:00000001\n\"a\"=dword:00000002\n\"B\"=dword:3");
    EXPECT_EQ(document.FindDword("A"), 2u);
    EXPECT_EQ(document.FindDword("B"), 3u);
    document.SetDword("a", 7);
    EXPECT_EQ(document.Serialize(), "\"A\"=dword:00000007\n\"B\"=dword:3\n");

    // The default value is written @; unterminated or badly escaped names are no values.
    document = SettingsDocument::Parse("\"open=dword:00000001\n\"bad\\x\"=dword:00000001\n");
    EXPECT_EQ(document.FindDword("open"), std::nullopt);
    EXPECT_EQ(document.FindDword("bad\\x"), std::nullopt);
    document.SetDword("", 5);
    EXPECT_EQ(document.FindDword(""), 5u);
    EXPECT_EQ(document.lines().back().text, "@=dword:00000005");
    const char binary[] = "\0\xff\n\"x\"=dword:123456789\n";  // nine digits are too many
    EXPECT_EQ(SettingsDocument::Parse(std::string(binary, sizeof binary - 1)).FindDword("x"),
              std::nullopt);
}

class PlatformSettingsStore : public ::testing::Test {
  protected:
    HKEY OpenKey(const char* subKey = kSubKey) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_READ | KEY_WRITE, &key),
                  ERROR_SUCCESS);
        return key;
    }
    static LSTATUS Write(HKEY key, const char* name, DWORD value) {
        return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value);
    }
    static LSTATUS Read(HKEY key, const char* name, DWORD& value) {
        DWORD type = REG_NONE;
        DWORD size = sizeof value;
        const LSTATUS status =
            RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
        if (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value)) return -1;
        return status;
    }
    std::string KeyFile() const { return dir.path() + kKeyFile; }

    TempDir dir;
    ScopedEnv settingsDir{"ZEMUSER_SETTINGS_DIR", dir.path()};
};

TEST_F(PlatformSettingsStore, ValuesRoundTripThroughTheKeyFile) {
    HKEY key = OpenKey();
    DWORD value = 0;
    EXPECT_EQ(Read(key, "EnableHttp1_1", value), ERROR_FILE_NOT_FOUND);  // no file yet
    EXPECT_FALSE(FileExists(KeyFile()));

    EXPECT_EQ(Write(key, "EnableHttp1_1", 10), ERROR_SUCCESS);
    EXPECT_EQ(Write(key, "ProxyHttp1.1", 0), ERROR_SUCCESS);
    EXPECT_EQ(ReadFileBytes(KeyFile()),
              "\"EnableHttp1_1\"=dword:0000000a\n\"ProxyHttp1.1\"=dword:00000000\n");
    EXPECT_EQ(Read(key, "enablehttp1_1", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 10u);
    EXPECT_EQ(Read(key, "Absent", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // A second key object finds what the first one wrote.
    HKEY again = OpenKey();
    EXPECT_EQ(Read(again, "EnableHttp1_1", value), ERROR_SUCCESS);
    EXPECT_EQ(value, 10u);
    RegCloseKey(again);
}

TEST_F(PlatformSettingsStore, QueryFollowsTheWindowsBufferRules) {
    HKEY key = OpenKey();
    ASSERT_EQ(Write(key, "V", 0x01020304), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    BYTE small[2];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, nullptr, small, nullptr),
              ERROR_INVALID_PARAMETER);
    const char text[] = "text";
    EXPECT_EQ(RegSetValueExA(key, "S", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 5),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Write(key, "Two\nLines", 1), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(PlatformSettingsStore, BrokenFilesMakeReadsFailAndKeepForeignLines) {
    HKEY key = OpenKey();
    ASSERT_EQ(Write(key, "EnableHttp1_1", 1), ERROR_SUCCESS);
    DWORD value = 0;

    const char garbled[] = "\"EnableHttp1_1\"=dword:\xff\0\n";
    WriteFileBytes(KeyFile(), std::string(garbled, sizeof garbled - 1));
    EXPECT_EQ(Read(key, "EnableHttp1_1", value), ERROR_FILE_NOT_FOUND);
    WriteFileBytes(KeyFile(), std::string(2 << 20, '"'));  // far too large to be settings
    EXPECT_NE(Read(key, "EnableHttp1_1", value), ERROR_SUCCESS);
    EXPECT_NE(Write(key, "EnableHttp1_1", 0), ERROR_SUCCESS);  // and is not overwritten
    EXPECT_EQ(ReadFileBytes(KeyFile()).size(), 2u << 20);

    const std::string foreign = "Windows Registry Editor Version 5.00\n\n\"Name\"=hex:01,02\n";
    WriteFileBytes(KeyFile(), foreign + "\"EnableHttp1_1\"=dword:00000001\n");
    EXPECT_EQ(Write(key, "EnableHttp1_1", 0), ERROR_SUCCESS);
    EXPECT_EQ(ReadFileBytes(KeyFile()), foreign + "\"EnableHttp1_1\"=dword:00000000\n");
    RegCloseKey(key);
}

TEST_F(PlatformSettingsStore, RefusesKeysAndHandlesItDoesNotKnow) {
    HKEY key = nullptr;
    for (const char* bad : {"..\\x", "A\\..\\B", "A\\\\B", "\\A", "A\\", "A\\.\\B", "A/B"}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, bad, 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &key), ERROR_SUCCESS);
    const HKEY localMachine = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));
    EXPECT_EQ(RegOpenKeyExA(localMachine, "Software", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);

    HKEY open = OpenKey("Software");
    EXPECT_EQ(RegCloseKey(open), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(open), ERROR_INVALID_HANDLE);
    DWORD value = 0;
    EXPECT_EQ(Read(open, "x", value), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Write(open, "x", 1), ERROR_INVALID_HANDLE);
}

TEST_F(PlatformSettingsStore, SubKeysOfAnOpenKeyAndTheStoreFolderChoice) {
    HKEY parent = OpenKey("Software\\Microsoft");
    HKEY child = nullptr;
    ASSERT_EQ(
        RegOpenKeyExA(parent, "Windows\\CurrentVersion\\Internet Settings", 0, KEY_WRITE, &child),
        ERROR_SUCCESS);
    ASSERT_EQ(Write(child, "X", 1), ERROR_SUCCESS);
    EXPECT_TRUE(FileExists(KeyFile()));
    RegCloseKey(child);
    RegCloseKey(parent);

    TempDir config;
    ScopedEnv noStore{"ZEMUSER_SETTINGS_DIR", ""};
    {
        ScopedEnv xdg{"XDG_CONFIG_HOME", config.path()};
        HKEY key = OpenKey("K");
        ASSERT_EQ(Write(key, "X", 1), ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_TRUE(FileExists(config.File("zemuser/HKEY_CURRENT_USER/K.reg")));
    }
    ScopedEnv xdg{"XDG_CONFIG_HOME", ""};
    ScopedEnv home{"HOME", config.path()};
    HKEY key = OpenKey("K");
    ASSERT_EQ(Write(key, "X", 1), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_TRUE(FileExists(config.File(".config/zemuser/HKEY_CURRENT_USER/K.reg")));
}

TEST_F(PlatformSettingsStore, WriteIntoAnUnusableFolderFailsWithACode) {
    WriteFileBytes(dir.File("plain-file"), "");
    ScopedEnv blocked{"ZEMUSER_SETTINGS_DIR", dir.File("plain-file") + "/store"};
    HKEY key = OpenKey();
    EXPECT_NE(Write(key, "EnableHttp1_1", 0), ERROR_SUCCESS);
    DWORD value = 0;
    EXPECT_EQ(Read(key, "EnableHttp1_1", value), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(PlatformSettingsStore, TwoProcessesWritingAtOnceLoseNeitherValue) {
    constexpr DWORD kRounds = 1000;
    int startSignal[2];
    ASSERT_EQ(pipe(startSignal), 0);
    auto writeRounds = [&](const char* name) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kSubKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS)
            return false;
        // Each process also reads its own value back while the other rewrites the file, so
        // a read that met half a rewrite would show here.
        bool allSeen = true;
        for (DWORD round = 1; round <= kRounds; ++round) {
            DWORD seen = 0;
            allSeen = Write(key, name, round) == ERROR_SUCCESS &&
                      Read(key, name, seen) == ERROR_SUCCESS && seen == round && allSeen;
        }
        RegCloseKey(key);
        return allSeen;
    };
    const pid_t child = platform_test::StartChild([&] {
        char go;
        close(startSignal[1]);
        return read(startSignal[0], &go, 1) == 1 && writeRounds("ChildValue");
    });
    close(startSignal[0]);
    ASSERT_EQ(write(startSignal[1], "g", 1), 1);  // both start at the same moment
    close(startSignal[1]);
    EXPECT_TRUE(writeRounds("ParentValue"));
    EXPECT_TRUE(platform_test::ChildSucceeded(child));

    HKEY key = OpenKey();
    DWORD value = 0;
    EXPECT_EQ(Read(key, "ParentValue", value), ERROR_SUCCESS);
    EXPECT_EQ(value, kRounds);
    EXPECT_EQ(Read(key, "ChildValue", value), ERROR_SUCCESS);
    EXPECT_EQ(value, kRounds);
    RegCloseKey(key);
}

}  // namespace
