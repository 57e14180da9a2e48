// The two form posts through the real WinINet, with the multipart bytes checked where the
// recording server received them.
#include <cstring>

#include "wine_test_support.h"

namespace wine_testing {
namespace {

constexpr char kMultipartType[] = "multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY";
constexpr char kPostAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)";

TEST(WinePost, PostSendsTheFieldsInNameOrderAsMultipart) {
    std::string tag = NewTag("post");
    std::string url = RecorderUrl(tag, "body=thanks-for-posting");
    PostFields fields{{"b", "2"}, {"a", "1"}, {"note", "x y&z=1 \xC3\xA9"}};
    TraceCapture trace;
    std::int32_t status = 0;
    char buffer[64] = {};
    EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, buffer, 63, nullptr), 18);
    EXPECT_STREQ(buffer, "thanks-for-posting");
    EXPECT_EQ(status, 200);

    RecordedRequest request = ReadRecord(tag);
    const std::string body = TextPart("a", "1") + TextPart("b", "2") +
                             TextPart("note", "x y&z=1 \xC3\xA9") + ClosingDelimiter();
    EXPECT_EQ(request.requestLine, "POST /rec/" + tag + "?body=thanks-for-posting HTTP/1.0");
    EXPECT_EQ(request.body, body);
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(request.Header("Content-Type"), kMultipartType);
    EXPECT_EQ(request.Header("Accept"), "*/*");
    EXPECT_EQ(request.Header("User-Agent"), kPostAgent);
    EXPECT_EQ(request.Header("Proxy-Connection"), "Keep-Alive");

    EXPECT_TRUE(trace.Contains("ZEMUrlPost Begin: " + url));
    EXPECT_TRUE(trace.Contains("ZEMUrlPost Result Code: 200"));
    EXPECT_TRUE(trace.Contains("ZEMUrlPost Result: 18"));
}

TEST(WinePost, PostWithoutBufferGivesTheContentLengthAndOneReadIsCut) {
    PostFields fields{{"k", "v"}};
    std::int32_t status = 0;
    std::string url = RecorderUrl(NewTag("postlen"), "size=30");
    EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, nullptr, 0, nullptr), 30);

    char buffer[40];
    std::memset(buffer, 'X', sizeof buffer);
    std::int32_t count = ZEMUrlPost(url.c_str(), &fields, &status, buffer, 10, nullptr);
    ASSERT_GT(count, 0);
    ASSERT_LE(count, 10);
    EXPECT_EQ(buffer[count], '\0');
    EXPECT_EQ(buffer[count + 1], 'X');
}

TEST(WinePost, Post3WithoutFieldsSendsTheClosingDelimiterAlone) {
    std::string tag = NewTag("post3empty");
    PostFields fields;
    std::int32_t status = 0;
    std::int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlPost3(RecorderUrl(tag).c_str(), &fields, &status, &raw, &length, nullptr), 0);
    HandedOutBuffer reply(raw);
    EXPECT_EQ(length, 0);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply.get()[0], '\0');

    RecordedRequest request = ReadRecord(tag);
    EXPECT_EQ(request.body, ClosingDelimiter());
    EXPECT_EQ(request.body.size(), 38u);
    EXPECT_EQ(request.Header("Content-Length"), "38");
}

TEST(WinePost, Post3CollectsTheWholeReplyAndKeepsAnErrorStatus) {
    Handle handle = BeginHandle();
    PostFields fields{{"session", "42"}};
    std::int32_t status = 0;
    std::int32_t length = 0;
    char* raw = nullptr;
    std::string url = RecorderUrl(NewTag("post3"), "status=500&size=4000");
    EXPECT_EQ(ZEMUrlPost3(url.c_str(), &fields, &status, &raw, &length, handle.get()), 4000);
    HandedOutBuffer reply(raw);
    EXPECT_EQ(status, 500);
    EXPECT_EQ(length, 4000);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(std::strlen(reply.get()), 4000u);

    // Without a buffer the reply is still read; its length is the result.
    length = 0;
    EXPECT_EQ(ZEMUrlPost3(url.c_str(), &fields, &status, nullptr, &length, handle.get()), 4000);
    EXPECT_EQ(length, 4000);
}

TEST(WinePost, Post3ToAnotherSchemeFailsWithOnlyTheBeginLine) {
    TraceCapture trace;
    PostFields fields{{"a", "1"}};
    std::int32_t status = 9;
    std::int32_t length = 12;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlPost3("ftp://127.0.0.1/x", &fields, &status, &raw, &length, nullptr), -1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"ZEMUrlPost Begin: ftp://127.0.0.1/x"});
}

}  // namespace
}  // namespace wine_testing
