// The in-memory fetches through the public header: each row of their result table, the status
// out-parameter, the terminating zero, the buffers left alone, and their trace lines.
#include <cstring>

#include "export_test_helpers.h"

namespace {

using namespace export_testing;
using testing_support::CertificateKind;
using testing_support::NginxServer;
using testing_support::ScopedEnv;
using testing_support::TestCertificates;

constexpr char kUntouched = '#';

// A host buffer of `size` bytes plus room for the zero and a guard byte, all set to a marker.
std::string MarkedBuffer(std::size_t size) {
    return std::string(size + 2, kUntouched);
}

bool AllUntouched(const std::string& buffer, std::size_t from = 0) {
    return buffer.find_first_not_of(kUntouched, from) == std::string::npos;
}

TEST(ZEMUrlGet, ReadsOnceIntoTheBufferAndTerminatesAfterTheBytesRead) {
    const std::string body = PatternBytes(5000, 1);
    ScriptedServer server(Answer(HttpResponse(200, body)));
    TraceFile trace;
    std::string buffer = MarkedBuffer(100);
    int32_t status = -1;
    EXPECT_EQ(ZEMUrlGet(server.url("/a?b=1").c_str(), &status, &buffer[0], 100, nullptr), 100);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(buffer.substr(0, 100), body.substr(0, 100));
    EXPECT_EQ(buffer[100], '\0');
    EXPECT_EQ(buffer[101], kUntouched);
    EXPECT_EQ(trace.Text(), "ZEMUrlGet Result Code: 200\n");
    EXPECT_EQ(ParseRequest(server.requests().at(0)).requestLine, "GET /a?b=1 HTTP/1.0");
}

// Without a buffer (null, or a size of 0 or less) the announced length is the result and the
// body is not read.
TEST(ZEMUrlGet, WithoutABufferGivesTheContentLength) {
    ScriptedServer server(Answer(HttpResponse(200, std::string(5120, 'x'))));
    TraceFile trace;
    int32_t status = -1;
    EXPECT_EQ(ZEMUrlGet(server.url().c_str(), &status, nullptr, 100, nullptr), 5120);
    EXPECT_EQ(status, 200);
    std::string buffer = MarkedBuffer(16);
    for (int32_t size : {0, -5}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(ZEMUrlGet(server.url().c_str(), &status, &buffer[0], size, nullptr), 5120);
        EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, &buffer[0], size, nullptr), 5120);
    }
    EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, nullptr, 10, nullptr), 5120);
    EXPECT_TRUE(AllUntouched(buffer));
    EXPECT_EQ(trace.Text(),
              "ZEMUrlGet Result Code: 200\n"
              "ZEMUrlGet Result Code: 200\nZEMUrlGet2 Result Code: 200\n"
              "ZEMUrlGet Result Code: 200\nZEMUrlGet2 Result Code: 200\n"
              "ZEMUrlGet2 Result Code: 200\n");
}

TEST(ZEMUrlGet2, TooSmallABufferGivesTheNegatedLengthAndStaysUntouched) {
    ScriptedServer server(Answer(HttpResponse(200, std::string(5000, 'x'))));
    TraceFile trace;
    std::string buffer = MarkedBuffer(1000);
    int32_t status = -1;
    EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, &buffer[0], 1000, nullptr), -5000);
    EXPECT_EQ(status, 200);
    EXPECT_TRUE(AllUntouched(buffer));
    EXPECT_EQ(trace.Text(), "ZEMUrlGet2 Result Code: 200\n");
}

TEST(ZEMUrlGet2, ReadsTheWholeBodyWhenItFits) {
    const std::string body = PatternBytes(5000, 2);  // zero bytes included
    ScriptedServer server([&body](ScriptedConnection& connection) {
        connection.ReadRequest();
        // In uneven pieces, so that several reads are needed.
        connection.Trickle(HttpResponse(200, body), 777, std::chrono::milliseconds(2));
    });
    for (std::size_t size : {5000u, 6000u}) {
        SCOPED_TRACE(size);
        std::string buffer = MarkedBuffer(size);
        int32_t status = -1;
        EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, &buffer[0], static_cast<int32_t>(size),
                             nullptr),
                  5000);
        EXPECT_EQ(status, 200);
        EXPECT_EQ(buffer.substr(0, 5000), body);
        EXPECT_EQ(buffer[5000], '\0');
        EXPECT_TRUE(AllUntouched(buffer, 5001));
    }
}

TEST(ZEMUrlGet2, BodyEndingBeforeItsLengthGivesWhatArrived) {
    const std::string body = PatternBytes(3000, 3);
    ScriptedServer server([&body](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body);
    });
    std::string buffer = MarkedBuffer(5000);
    int32_t status = -1;
    EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, &buffer[0], 5000, nullptr), 3000);
    EXPECT_EQ(buffer.substr(0, 3000), body);
    EXPECT_EQ(buffer[3000], '\0');
}

// Without a Content-Length the length is 0: the no-buffer calls give 0 and ZEMUrlGet2 reads
// nothing, leaving an empty text; the missing header is reported as an error.
TEST(ZEMUrlGet2, MissingContentLengthGivesZeroAndAnEmptyText) {
    ScriptedServer server(Answer(HttpResponse(200, "unannounced body", {}, false)));
    TraceFile trace;
    std::string buffer = MarkedBuffer(100);
    int32_t status = -1;
    EXPECT_EQ(ZEMUrlGet2(server.url("/n").c_str(), &status, &buffer[0], 100, nullptr), 0);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_TRUE(AllUntouched(buffer, 1));
    EXPECT_EQ(ZEMUrlGet(server.url("/n").c_str(), &status, nullptr, 0, nullptr), 0);
    EXPECT_EQ(ZEMUrlGet2(server.url("/n").c_str(), &status, nullptr, 0, nullptr), 0);
    EXPECT_TRUE(trace.Contains("/n ] query content-length failed...\n")) << trace.Text();
}

TEST(ZEMUrlGet3, HandsOutTheWholeBodyInAZeroTerminatedBuffer) {
    const std::string body(2500, 't');
    ScriptedServer server(Answer(HttpResponse(200, body)));
    TraceFile trace;
    int32_t status = -1;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(server.url().c_str(), &status, &raw, &length, nullptr), 2500);
    HandedBuffer handed(raw);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(length, 2500);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(std::string(raw, 2500), body);
    EXPECT_EQ(raw[2500], '\0');

    // Only the length is wanted.
    length = -1;
    EXPECT_EQ(ZEMUrlGet3(server.url().c_str(), &status, nullptr, &length, nullptr), 2500);
    EXPECT_EQ(length, 2500);
    EXPECT_EQ(trace.Text(), "ZEMUrlGet Result Code: 200\nZEMUrlGet Result Code: 200\n");
}

// Zero bytes are kept wherever they fall, across the 1024-byte pieces of the read.
TEST(ZEMUrlGet3, KeepsABodyWithZeroBytesByteForByte) {
    std::string body(3000, 'b');
    body[10] = '\0';
    body[1030] = '\0';
    body[2999] = '\0';
    ScriptedServer server([&body](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Trickle(HttpResponse(200, body), 500, std::chrono::milliseconds(2));
    });
    int32_t status = -1;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(server.url().c_str(), &status, &raw, &length, nullptr), 3000);
    HandedBuffer handed(raw);
    EXPECT_EQ(length, 3000);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(std::string(raw, 3000), body);
    EXPECT_EQ(raw[3000], '\0');
}

TEST(ZEMUrlGet3, EmptyBodyGivesAOneByteBufferHoldingTheTerminator) {
    ScriptedServer server(Answer(HttpResponse(200, "")));
    int32_t status = -1;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(server.url().c_str(), &status, &raw, &length, nullptr), 0);
    HandedBuffer handed(raw);
    EXPECT_EQ(length, 0);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw[0], '\0');
}

// When the buffer for the host cannot be had, the call fails like any other: -1, neither
// out-parameter written, nothing thrown at the host. Seen in a host process whose address space
// is capped well below the body's size.
TEST(ZEMUrlGet3, BufferThatCannotBeAllocatedGivesMinusOneAndWritesNothing) {
#if defined(ZEMUSER_TEST_UNDER_ASAN) || defined(ZEMUSER_TEST_UNDER_TSAN)
    GTEST_SKIP() << "the sanitizers reserve address space of their own";
#endif
    constexpr std::size_t kBodyLength = std::size_t{128} << 20;
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kBodyLength) +
                        "\r\n\r\n");
        const std::string piece(65536, 'p');
        for (std::size_t sent = 0; sent < kBodyLength && connection.Send(piece);) {
            sent += piece.size();
        }
    });
    TempDir settings;
    EXPECT_EQ(RunHostProbe(settings, "limit-extra-mb 40 get3 " + server.url()),
              "get3=-1 length=-7 buffer=untouched\n");
}

// An HTTP error is no failure: the status goes out and the page is read like any body.
TEST(InMemoryFetch, ErrorPageIsReturnedWithItsStatus) {
    const std::string page = "<html><body>not here</body></html>";
    ScriptedServer server(Answer(HttpResponse(404, page)));
    TraceFile trace;
    const int32_t size = static_cast<int32_t>(page.size());
    std::string buffer = MarkedBuffer(page.size());
    int32_t status = -1;
    EXPECT_EQ(ZEMUrlGet(server.url().c_str(), &status, &buffer[0], size, nullptr), size);
    EXPECT_EQ(status, 404);
    EXPECT_STREQ(buffer.c_str(), page.c_str());
    status = -1;
    EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, &buffer[0], size, nullptr), size);
    EXPECT_EQ(status, 404);
    EXPECT_STREQ(buffer.c_str(), page.c_str());
    status = -1;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(server.url().c_str(), &status, &raw, &length, nullptr), size);
    HandedBuffer handed(raw);
    EXPECT_EQ(status, 404);
    EXPECT_STREQ(raw, page.c_str());
    EXPECT_EQ(trace.Text(),
              "ZEMUrlGet Result Code: 404\nZEMUrlGet2 Result Code: 404\n"
              "ZEMUrlGet Result Code: 404\n");
}

// A URL that does not split or names another scheme: -1, the status 0, nothing opened, nothing
// traced, and the out-parameters of ZEMUrlGet3 left as they were.
TEST(InMemoryFetch, OtherSchemesAndBadUrlsFailWithoutConnecting) {
    TraceFile trace;
    for (const char* url : {"ftp://127.0.0.1/file.txt", "file:///etc/hostname", "not a url",
                            "http://", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(url != nullptr ? url : "(null)");
        std::string buffer = MarkedBuffer(16);
        int32_t status = 77;
        EXPECT_EQ(ZEMUrlGet(url, &status, &buffer[0], 16, nullptr), -1);
        EXPECT_EQ(status, 0);
        status = 77;
        EXPECT_EQ(ZEMUrlGet2(url, &status, &buffer[0], 16, nullptr), -1);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(AllUntouched(buffer));
        status = 77;
        int32_t length = 55;
        char marker = 0;
        char* raw = &marker;
        EXPECT_EQ(ZEMUrlGet3(url, &status, &raw, &length, nullptr), -1);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(length, 55);
        EXPECT_EQ(raw, &marker);
    }
    EXPECT_EQ(trace.Text(), "");
}

// A refused connection: -1 and the status 0, the engine's report in the trace, and no result
// line of the fetches' own.
TEST(InMemoryFetch, RefusedConnectionFailsAndIsReported) {
    const std::string url = RefusedUrl("/gone");
    TraceFile trace;
    std::string buffer = MarkedBuffer(16);
    int32_t status = 77;
    EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, &buffer[0], 16, nullptr), -1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, &buffer[0], 16, nullptr), -1);
    EXPECT_TRUE(AllUntouched(buffer));
    int32_t length = 55;
    char marker = 0;
    char* raw = &marker;
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, nullptr), -1);
    EXPECT_EQ(length, 55);
    EXPECT_EQ(raw, &marker);
    EXPECT_TRUE(trace.Contains("[ " + url + " ] request failed...\n")) << trace.Text();
    EXPECT_EQ(trace.OwnLines(), "");
}

TEST(InMemoryFetch, HttpsWithTrustedAndUnknownAuthorities) {
    ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
    NginxServer nginx;
    const std::string body = PatternBytes(4000, 4);
    nginx.AddFile("secure.bin", body);
    for (CertificateKind kind : {CertificateKind::Good, CertificateKind::SelfSigned,
                                 CertificateKind::OtherName, CertificateKind::Expired}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const std::string url =
            "https://127.0.0.1:" + std::to_string(nginx.httpsPort(kind)) + "/secure.bin";
        int32_t status = -1;
        int32_t length = -1;
        char* raw = nullptr;
        EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, nullptr), 4000);
        HandedBuffer handed(raw);
        EXPECT_EQ(status, 200);
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(std::string(raw, 4000), body);
    }
}

}  // namespace
