// URL canonicalisation and cracking, as pure functions: no server involved.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

std::string Canonical(const std::string& url, DWORD* error = nullptr) {
    char buffer[INTERNET_MAX_URL_LENGTH];
    DWORD length = sizeof buffer;
    if (!InternetCanonicalizeUrlA(url.c_str(), buffer, &length, ICU_BROWSER_MODE)) {
        if (error != nullptr) *error = GetLastError();
        return "<failed>";
    }
    EXPECT_EQ(length, std::strlen(buffer));
    return std::string(buffer, length);
}

struct Cracked {
    BOOL ok = FALSE;
    DWORD error = 0;
    INTERNET_SCHEME scheme = INTERNET_SCHEME_DEFAULT;
    INTERNET_PORT port = 0;
    std::string host, path, user, password;
};

// Cracks as the engine does: host and path into buffers, the query left in the path.
Cracked Crack(const std::string& url) {
    char host[2085] = {}, path[2085] = {}, user[64] = {}, password[64] = {};
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 2084;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2084;
    parts.lpszUserName = user;
    parts.dwUserNameLength = sizeof user;
    parts.lpszPassword = password;
    parts.dwPasswordLength = sizeof password;
    Cracked cracked;
    cracked.ok = InternetCrackUrlA(url.c_str(), 0, 0, &parts);
    cracked.error = cracked.ok ? 0 : GetLastError();
    cracked.scheme = parts.nScheme;
    cracked.port = parts.nPort;
    cracked.host = host;
    cracked.path = path;
    cracked.user = user;
    cracked.password = password;
    return cracked;
}

TEST(InternetUrlTest, BrowserModeEncodesBeforeTheQueryAndResolvesDots) {
    EXPECT_EQ(Canonical("http://Example.COM/a b/c"), "http://example.com/a%20b/c");
    EXPECT_EQ(Canonical("http://h/a/./b/../c/d?q=x y&z=../.."), "http://h/a/c/d?q=x y&z=../..");
    EXPECT_EQ(Canonical("http://h/../../x"), "http://h/x");
    EXPECT_EQ(Canonical("http://h/a/b/.."), "http://h/a/");
    EXPECT_EQ(Canonical("http://h"), "http://h/");
    EXPECT_EQ(Canonical("  HTTP://h/x  "), "http://h/x");
    EXPECT_EQ(Canonical("http://h/<a>\"{|}^`"), "http://h/%3Ca%3E%22%7B%7C%7D%5E%60");
    EXPECT_EQ(Canonical("http://h/caf\xC3\xA9"), "http://h/caf%C3%A9");
    EXPECT_EQ(Canonical("http://h/already%20encoded"), "http://h/already%20encoded");
    EXPECT_EQ(Canonical("http://h/p#frag ment"), "http://h/p#frag ment");
    EXPECT_EQ(Canonical("http://User:Pw@Host:8080/x"), "http://User:Pw@host:8080/x");
    EXPECT_EQ(Canonical("mailto:someone@example.com"), "mailto:someone@example.com");
    DWORD error = 0;
    EXPECT_EQ(Canonical("no scheme here", &error), "<failed>");
    EXPECT_EQ(error, ERROR_INTERNET_INVALID_URL);
}

TEST(InternetUrlTest, CanonicalFormLongerThanTheUsualBufferReportsItsSize) {
    const std::string url = "http://h/" + std::string(3000, 'a') + " b";
    char small[INTERNET_MAX_URL_LENGTH];
    std::memset(small, 'z', sizeof small);
    DWORD length = sizeof small;
    EXPECT_FALSE(InternetCanonicalizeUrlA(url.c_str(), small, &length, ICU_BROWSER_MODE));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    const std::string expected = "http://h/" + std::string(3000, 'a') + "%20b";
    EXPECT_EQ(length, expected.size() + 1);
    EXPECT_EQ(small[0], 'z');
    std::string big(length, '\0');
    ASSERT_TRUE(InternetCanonicalizeUrlA(url.c_str(), big.data(), &length, ICU_BROWSER_MODE));
    EXPECT_EQ(std::string(big.c_str()), expected);
    EXPECT_EQ(length, expected.size());
}

TEST(InternetUrlTest, CrackingGivesSchemeHostPortAndPathWithQuery) {
    Cracked c = Crack("http://example.com/files/a.txt?x=1&y=2");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.scheme, INTERNET_SCHEME_HTTP);
    EXPECT_EQ(c.host, "example.com");
    EXPECT_EQ(c.port, 80);
    EXPECT_EQ(c.path, "/files/a.txt?x=1&y=2");

    c = Crack("https://user:pw@secure.example:8443/p");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.scheme, INTERNET_SCHEME_HTTPS);
    EXPECT_EQ(c.host, "secure.example");
    EXPECT_EQ(c.port, 8443);
    EXPECT_EQ(c.user, "user");
    EXPECT_EQ(c.password, "pw");
    EXPECT_EQ(c.path, "/p");

    EXPECT_EQ(Crack("https://h/").port, 443);
    EXPECT_EQ(Crack("ftp://h/f").scheme, INTERNET_SCHEME_FTP);
    EXPECT_EQ(Crack("ftp://h/f").port, 21);
    EXPECT_EQ(Crack("gopher://h/").port, 70);
    EXPECT_EQ(Crack("file:///c:/x").scheme, INTERNET_SCHEME_FILE);
    EXPECT_EQ(Crack("news:comp.lang").scheme, INTERNET_SCHEME_NEWS);
    EXPECT_EQ(Crack("mailto:a@b").scheme, INTERNET_SCHEME_MAILTO);
    c = Crack("weird://h:99/x");
    ASSERT_TRUE(c.ok);
    EXPECT_EQ(c.scheme, INTERNET_SCHEME_UNKNOWN);
    EXPECT_EQ(c.port, 99);
    EXPECT_EQ(Crack("http://[::1]:8080/v6").host, "::1");
}

TEST(InternetUrlTest, CrackingRefusesWhatIsNotAUrl) {
    EXPECT_FALSE(Crack("just words").ok);
    EXPECT_FALSE(Crack("http:///no-host").ok);
    EXPECT_EQ(Crack("http:///no-host").error, ERROR_INTERNET_INVALID_URL);
    EXPECT_FALSE(Crack("http://h:99999/").ok);
    EXPECT_FALSE(Crack("http://h:8x/").ok);
    // A path longer than its buffer: the size needed, nothing written.
    Cracked c = Crack("http://h/" + std::string(2100, 'p'));
    EXPECT_FALSE(c.ok);
    EXPECT_EQ(c.error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(c.path, "");
}

TEST(InternetUrlTest, CrackingPointsIntoTheTextWhenNoBufferIsGiven) {
    const char* url = "http://h:81/p?q#f";
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    ASSERT_TRUE(InternetCrackUrlA(url, 0, 0, &parts));
    EXPECT_EQ(std::string(parts.lpszHostName, parts.dwHostNameLength), "h");
    EXPECT_EQ(parts.lpszHostName, url + 7);
    EXPECT_EQ(std::string(parts.lpszUrlPath, parts.dwUrlPathLength), "/p");
    EXPECT_EQ(std::string(parts.lpszExtraInfo, parts.dwExtraInfoLength), "?q#f");
    EXPECT_EQ(parts.nPort, 81);
    URL_COMPONENTSA wrongSize{};
    wrongSize.dwStructSize = 12;
    EXPECT_FALSE(InternetCrackUrlA(url, 0, 0, &wrongSize));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
