// The three fetches through the real WinINet: results, buffers, status and trace lines, the
// request on the wire, an HTTPS server with a certificate nobody vouches for, and the failure
// report of a refused connection.
#include <winsock2.h>

#include <cstring>

#include "wine_test_support.h"

namespace wine_testing {
namespace {

TEST(WineFetch, GetWithoutBufferReportsTheLengthAndWritesTheResultLine) {
    std::string url = NginxFile("fetch-5120.bin", Pattern(5120));
    TraceCapture trace;
    std::int32_t status = -7;
    EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, nullptr, 0, nullptr), 5120);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(trace.Contains("ZEMUrlGet Result Code: 200"));
}

TEST(WineFetch, GetMakesOneReadAndTerminatesAfterIt) {
    const std::string body = Pattern(5000);
    std::string url = NginxFile("fetch-5000.bin", body);
    std::vector<char> buffer(200, 'X');
    std::int32_t status = 0;
    std::int32_t count = ZEMUrlGet(url.c_str(), &status, buffer.data(), 100, nullptr);
    ASSERT_GT(count, 0);
    ASSERT_LE(count, 100);
    EXPECT_EQ(std::string(buffer.data(), count), body.substr(0, count));
    EXPECT_EQ(buffer[count], '\0');
    EXPECT_EQ(status, 200);
}

TEST(WineFetch, Get2ChecksTheLengthThenReadsTheWholeBody) {
    const std::string body = Pattern(5000, 'k');
    std::string url = NginxFile("fetch2-5000.bin", body);
    TraceCapture trace;

    std::vector<char> small(1001, 'X');
    std::int32_t status = 0;
    EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, small.data(), 1000, nullptr), -5000);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(small, std::vector<char>(1001, 'X'));

    std::vector<char> fitting(5001, 'X');
    EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, fitting.data(), 5000, nullptr), 5000);
    EXPECT_EQ(std::string(fitting.data(), 5000), body);
    EXPECT_EQ(fitting[5000], '\0');
    EXPECT_TRUE(trace.Contains("ZEMUrlGet2 Result Code: 200"));
}

TEST(WineFetch, Get2StopsWhereAShortBodyEnds) {
    std::string url = RecorderUrl(NewTag("short"), "size=3000&announce=5000");
    std::vector<char> buffer(5001, 'X');
    std::int32_t status = 0;
    EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, buffer.data(), 5000, nullptr), 3000);
    EXPECT_EQ(buffer[3000], '\0');
}

TEST(WineFetch, Get2WithoutContentLengthReadsNothingAndReportsTheMissingHeader) {
    std::string url = RecorderUrl(NewTag("nolength"), "size=700&length=none");
    TraceCapture trace;
    std::vector<char> buffer(1001, 'X');
    std::int32_t status = 0;
    EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, buffer.data(), 1000, nullptr), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(status, 200);
    bool reported = false;
    for (const std::string& line : trace.Lines()) {
        if (line.find("] query content-length failed...") != std::string::npos) reported = true;
    }
    EXPECT_TRUE(reported);
}

TEST(WineFetch, Get3HandsOutTheTextInANewBuffer) {
    const std::string body = Pattern(2500, 'q');
    std::string url = NginxFile("fetch3-2500.txt", body);
    std::int32_t status = 0;
    std::int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, nullptr), 2500);
    HandedOutBuffer text(raw);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 2500);
    EXPECT_EQ(std::string(text.get(), 2500), body);
    EXPECT_EQ(text.get()[2500], '\0');

    length = -1;
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, nullptr, &length, nullptr), 2500);
    EXPECT_EQ(length, 2500);
}

// The library keeps zero bytes wherever they fall in the pieces that WinINet delivers.
TEST(WineFetch, Get3KeepsZeroBytesByteForByte) {
    std::string body =
        std::string(10, 'A') + '\0' + std::string(1013, 'B') + '\0' + std::string(500, 'C');
    std::string url = RecorderUrl(NewTag("zero"), "body=" + QueryText(body));
    std::int32_t status = 0;
    std::int32_t length = 0;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, nullptr), 1525);
    HandedOutBuffer text(raw);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, 1525);
    EXPECT_EQ(std::string(text.get(), 1526), body + '\0');
}

TEST(WineFetch, ErrorPageComesBackWithItsStatus) {
    std::int32_t status = 0;
    std::int32_t length = 0;
    char* raw = nullptr;
    std::string url = TheSetup().nginx + "/no-such-file.html";
    EXPECT_GT(ZEMUrlGet3(url.c_str(), &status, &raw, &length, nullptr), 0);
    HandedOutBuffer text(raw);
    EXPECT_EQ(status, 404);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::strstr(text.get(), "404"), nullptr);
}

TEST(WineFetch, OtherSchemesFailWithoutTouchingTheOutputs) {
    TraceCapture trace;
    std::int32_t status = 55;
    std::int32_t length = 77;
    char* raw = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(ZEMUrlGet3("ftp://127.0.0.1/file.txt", &status, &raw, &length, nullptr), -1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(length, 77);
    EXPECT_EQ(raw, reinterpret_cast<char*>(0x1));
    char buffer[16] = {};
    EXPECT_EQ(ZEMUrlGet("ftp://127.0.0.1/file.txt", &status, buffer, 15, nullptr), -1);
    EXPECT_TRUE(trace.Lines().empty());
}

TEST(WineFetch, RequestOnTheWireIsAnHttp10GetWithTheLibrarysHeaders) {
    std::string tag = NewTag("get");
    std::string url = RecorderUrl(tag, "body=hello");
    Handle handle = BeginHandle();
    std::int32_t status = 0;
    char buffer[32] = {};
    // Twice on one handle: every call connects anew.
    ASSERT_EQ(ZEMUrlGet(url.c_str(), &status, buffer, 31, handle.get()), 5);
    ASSERT_EQ(ZEMUrlGet(url.c_str(), &status, buffer, 31, handle.get()), 5);
    EXPECT_STREQ(buffer, "hello");

    RecordedRequest request = ReadRecord(tag);
    EXPECT_EQ(request.requestLine, "GET /rec/" + tag + "?body=hello HTTP/1.0");
    EXPECT_EQ(request.Header("Accept"), "*/*");
    EXPECT_EQ(request.Header("User-Agent"), "Mozilla/4.0 (compatible; )");
    EXPECT_EQ(request.Header("Host").rfind("127.0.0.1", 0), 0u);
    EXPECT_TRUE(request.body.empty());
}

TEST(WineFetch, HttpsWithAnUnknownAuthorityIsFetchedAfterTheFlagIsSet) {
    const std::string body = Pattern(3000, 't');
    NginxFile("tls-3000.bin", body);
    std::string url = TheSetup().nginxTls + "/tls-3000.bin";
    std::int32_t status = 0;
    std::int32_t length = 0;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, nullptr), 3000);
    HandedOutBuffer text(raw);
    EXPECT_EQ(status, 200);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text.get()), body);
}

// A loopback port that nothing listens on: bound, then closed again.
std::uint16_t ClosedLoopbackPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int size = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
    closesocket(probe);
    WSACleanup();
    return ntohs(address.sin_port);
}

TEST(WineFetch, RefusedConnectionIsReportedWithTheUrlAndThePlatformText) {
    std::string port = std::to_string(ClosedLoopbackPort());
    TraceCapture trace;
    std::int32_t status = 3;
    std::string url = "http://127.0.0.1:" + port + "/refused?x=1";
    EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, nullptr, 0, nullptr), -1);
    EXPECT_EQ(status, 0);
    std::vector<std::string> lines = trace.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "[ http://127.0.0.1:" + port + "/refused?x=1 ] request failed...");
    // The second line carries WinINet's own text for the code, from wininet.dll's message
    // table, as the table has it (ending in a line break of its own).
    ASSERT_GE(lines.size(), 2u) << "no message text for the last error";
    EXPECT_EQ(lines[1].rfind("[12029, 0x00002efd] ", 0), 0u) << lines[1];
    EXPECT_GT(lines[1].size(), std::strlen("[12029, 0x00002efd] ")) << lines[1];
}

}  // namespace
}  // namespace wine_testing
