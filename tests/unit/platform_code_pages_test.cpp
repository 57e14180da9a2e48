#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

constexpr DWORD kErrInvalidChars = 0x80;    // WC_ERR_INVALID_CHARS
constexpr DWORD kMbErrInvalidChars = 0x08;  // MB_ERR_INVALID_CHARS
const std::string kReplacement = "\xef\xbf\xbd";

// Measures, then converts into a buffer of exactly the measured size.
std::string ToUtf8(const std::u16string& wide, UINT codePage = CP_UTF8) {
    const int length = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    const int written =
        WideCharToMultiByte(codePage, 0, wide.data(), length, out.data(), size, nullptr, nullptr);
    EXPECT_EQ(written, size);
    return out;
}

std::u16string ToWide(const std::string& narrow) {
    const int length = static_cast<int>(narrow.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, narrow.data(), length, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(size), u'\0');
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, narrow.data(), length, out.data(), size), size);
    return out;
}

TEST(PlatformCodePages, WideToUtf8FollowsTheWindowsBufferRules) {
    const char16_t text[] = u"\u00e9t\u00e9";  // été: 2 + 1 + 2 bytes
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 3, nullptr, 0, nullptr, nullptr), 5);
    // -1: up to the terminator, which is converted and counted as well.
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 6);

    char exact[6];
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, exact, 6, nullptr, nullptr), 6);
    EXPECT_STREQ(exact, "\xc3\xa9t\xc3\xa9");

    char small[4] = {'?', '?', '?', '?'};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 3, small, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    // The narrow code page is UTF-8 here too; other code pages are not supported.
    EXPECT_EQ(ToUtf8(u"\u00e9", CP_ACP), "\xc3\xa9");
    EXPECT_EQ(WideCharToMultiByte(1252, 0, text, 3, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, nullptr, 3, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 0, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(PlatformCodePages, IllFormedUtf16BecomesReplacementCharacter) {
    EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xf0\x9f\x98\x80");  // a proper pair
    const std::u16string loneHigh{u'a', char16_t(0xD83D), u'b'};
    const std::u16string loneLow{char16_t(0xDE00), u'b'};
    const std::u16string reversed{char16_t(0xDE00), char16_t(0xD83D)};
    const std::u16string highAtEnd{u'a', char16_t(0xD83D)};
    EXPECT_EQ(ToUtf8(loneHigh), "a" + kReplacement + "b");
    EXPECT_EQ(ToUtf8(loneLow), kReplacement + "b");
    EXPECT_EQ(ToUtf8(reversed), kReplacement + kReplacement);
    EXPECT_EQ(ToUtf8(highAtEnd), "a" + kReplacement);

    // Asked to, the conversion refuses such text instead.
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, kErrInvalidChars, loneHigh.data(), 3, nullptr, 0,
                                  nullptr, nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

TEST(PlatformCodePages, Utf8ToWideRoundTripsAndMeasures) {
    const std::u16string text = u"A\u00e9\u65e5\U0001F600z";
    EXPECT_EQ(ToWide(ToUtf8(text)), text);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);

    WCHAR small[2];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, small, 2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(PlatformCodePages, IllFormedUtf8GivesOneReplacementPerBadSequence) {
    const std::u16string R = u"\uFFFD";
    EXPECT_EQ(ToWide("\xff"), R);
    EXPECT_EQ(ToWide("a\xc3"), u"a" + R);                  // cut short at the end
    EXPECT_EQ(ToWide("\xf0\x9f\x98z"), R + u"z");          // cut short in the middle
    EXPECT_EQ(ToWide("\xc0\xaf"), R + R);                  // overlong
    EXPECT_EQ(ToWide("\xe0\x80\x80"), R + R + R);          // overlong
    EXPECT_EQ(ToWide("\xed\xa0\x80"), R + R + R);          // an encoded surrogate
    EXPECT_EQ(ToWide("\xf4\x90\x80\x80"), R + R + R + R);  // above U+10FFFF
    EXPECT_EQ(ToWide("\x80\xbf"), R + R);                  // stray continuations
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, kMbErrInvalidChars, "\xff", 1, nullptr, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

}  // namespace
