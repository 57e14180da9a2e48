// The in-memory exports per answer and host buffer: result, status, bytes, terminator, trace.
#include "api_support.h"

namespace {

struct Row {
    const char* name;
    Call call;
    std::string answer;
    int32_t size, result, status;
    std::string buffer;
    bool trickle = false;     // the answer in uneven pieces, so that several reads are needed
    std::string report = "";  // a failure report the trace must also hold
};

std::string Marks(std::size_t count) {
    return std::string(count, '#');
}
// The trace of a call that got an answer: ZEMUrlGet3 writes the lines of ZEMUrlGet, the posts
// a Begin and a Result line around the status.
std::string TraceOf(const Row& row, const std::string& url) {
    const std::string status = " Result Code: " + std::to_string(row.status) + "\n";
    if (row.call == Post || row.call == Post3) {
        return "ZEMUrlPost Begin: " + url + "\nZEMUrlPost" + status +
               "ZEMUrlPost Result: " + std::to_string(row.result) + "\n";
    }
    return (row.call == Get2 ? "ZEMUrlGet2" : "ZEMUrlGet") + status;
}

TEST(InMemoryResults, EachAnswerExportAndBuffer) {
    const std::string z(1, '\0');
    const std::string body = PatternText(5000, 1), x5120(5120, 'x');
    std::string zeros = PatternText(3000, 2);
    zeros[10] = zeros[1030] = zeros[2999] = '\0';
    const std::string page = "<html>not here</html>", reply = "abcdefghijklmnopqrstuvwxyz0123";
    const std::string early =
        "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body.substr(0, 3000);
    const std::string unannounced = HttpResponse(200, "unannounced", {}, false);
    const std::string ceiling(100000, 'c'), huge = "HTTP/1.0 200 OK\r\nContent-Length: ";
    const std::string zeros1021(1021, '0');
    ScopedEnv ceilingSet("ZEMUSER_MAX_REPLY_BYTES", "100000");
    const Row rows[] = {
        {"get reads once", Get, HttpResponse(200, body), 100, 100, 200,
         body.substr(0, 100) + z + "#"},
        {"get without buffer", Get, HttpResponse(200, x5120), kNone, 5120, 200, "##"},
        {"get2 with size -5", Get2, HttpResponse(200, x5120), -5, 5120, 200, "##"},
        {"get2 too small", Get2, HttpResponse(200, body), 1000, -5000, 200, Marks(1002)},
        {"get2 exact fit", Get2, HttpResponse(200, body), 5000, 5000, 200, body + z + "#", true},
        {"get2 room to spare", Get2, HttpResponse(200, body), 6000, 5000, 200,
         body + z + Marks(1001), true},
        {"get2 body ends early", Get2, early, 5000, 3000, 200,
         body.substr(0, 3000) + z + Marks(2001)},
        {"get2 without length", Get2, unannounced, 100, 0, 200, z + Marks(101), false,
         "/ ] query content-length failed...\n"},
        {"get without length", Get, unannounced, kNone, 0, 200, "##"},
        {"get3 whole body", Get3, HttpResponse(200, body), 0, 5000, 200, body + z},
        {"get3 length only", Get3, HttpResponse(200, body), kNone, 5000, 200, "<none>"},
        {"get3 zero bytes kept", Get3, HttpResponse(200, zeros), 0, 3000, 200, zeros + z, true},
        {"get3 empty body", Get3, HttpResponse(200, ""), 0, 0, 200, z},
        {"get2 error page", Get2, HttpResponse(404, page), 21, 21, 404, page + z + "#"},
        {"get3 error page", Get3, HttpResponse(404, page), 0, 21, 404, page + z},
        {"post reads once", Post, HttpResponse(200, reply), 10, 10, 200, "abcdefghij" + z + "#"},
        {"post without buffer", Post, HttpResponse(200, reply), kNone, 30, 200, "##"},
        {"post with size 0", Post, HttpResponse(200, reply), 0, 30, 200, "##"},
        {"post empty reply", Post, HttpResponse(201, ""), 7, 0, 201, z + Marks(8)},
        {"post3 whole reply", Post3, HttpResponse(500, zeros), 0, 3000, 500, zeros + z, true},
        // Replies stop at the ceiling; a length past 2^31 - 1 reads as 2^31 - 1, never wraps.
        {"get3 at the ceiling", Get3, HttpResponse(200, ceiling), 0, 100000, 200, ceiling + z},
        {"get3 past the ceiling", Get3, HttpResponse(200, ceiling + "x"), 0, -1, 200, "<none>"},
        {"post3 past the ceiling", Post3, HttpResponse(200, ceiling + "x"), 0, -1, 200, "<none>"},
        {"get huge length", Get, huge + "4294972296\r\n\r\nb", kNone, INT32_MAX, 200, "##"},
        {"get2 huge length", Get2, huge + "2147488648\r\n\r\nb", 8, -INT32_MAX, 200, Marks(10)},
        {"get length with letters", Get, huge + "12abc\r\n\r\nb", kNone, 12, 200, "##"},
        // The length is read into 1,024 bytes, its terminator included.
        {"get length of 1,023 characters", Get, huge + zeros1021 + "12\r\n\r\nb", kNone, 12, 200,
         "##"},
        {"get length of 1,024 characters", Get, huge + zeros1021 + "012\r\n\r\nb", kNone, 0, 200,
         "##", false, "/ ] query content-length failed...\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server([&row](ScriptedConnection& connection) {
            connection.ReadRequest();
            connection.Trickle(row.answer, row.trickle ? 777 : row.answer.size(),
                               std::chrono::milliseconds(2));
        });
        TraceFile trace;
        const Outcome out = Perform(row.call, nullptr, server.url().c_str(), row.size);
        EXPECT_EQ(out.result, row.result);
        EXPECT_EQ(out.status, row.status);
        EXPECT_EQ(out.buffer, row.buffer);
        if (row.call == Get3 || row.call == Post3) {
            EXPECT_EQ(out.length, row.result >= 0 ? row.result : -7);
        }
        EXPECT_EQ(trace.OwnLines(), TraceOf(row, server.url()));
        EXPECT_NE(trace.Text().find(row.report), std::string::npos) << trace.Text();
    }
}

}  // namespace
