// The in-memory exports, one row per server answer, export and host buffer: the result, the
// status, the bytes the host gets, the terminating zero, what stays untouched, the trace.
#include "api_support.h"

namespace {

using namespace api_testing;

struct Row {
    const char* name;
    Call call;
    std::string answer;
    int32_t size, result, status;
    std::string buffer, trace;
    bool trickle = false;     // the answer in uneven pieces, so that several reads are needed
    std::string report = "";  // a failure report the trace must also hold
};

std::string Marks(std::size_t count) {
    return std::string(count, '#');
}
std::string GetLine(const char* name, int status) {
    return std::string(name) + " Result Code: " + std::to_string(status) + "\n";
}
std::string PostLines(int status, int result) {
    return "ZEMUrlPost Begin: {url}\nZEMUrlPost Result Code: " + std::to_string(status) +
           "\nZEMUrlPost Result: " + std::to_string(result) + "\n";
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
    const std::string g = GetLine("ZEMUrlGet", 200), g2 = GetLine("ZEMUrlGet2", 200);
    const std::string ceiling(100000, 'c'), huge = "HTTP/1.0 200 OK\r\nContent-Length: ";
    ScopedEnv ceilingSet("ZEMUSER_MAX_REPLY_BYTES", "100000");
    const Row rows[] = {
        {"get reads once", Call::Get, HttpResponse(200, body), 100, 100, 200,
         body.substr(0, 100) + z + "#", g},
        {"get without buffer", Call::Get, HttpResponse(200, x5120), kNone, 5120, 200, "##", g},
        {"get with size 0", Call::Get, HttpResponse(200, x5120), 0, 5120, 200, "##", g},
        {"get2 with size -5", Call::Get2, HttpResponse(200, x5120), -5, 5120, 200, "##", g2},
        {"get2 too small", Call::Get2, HttpResponse(200, body), 1000, -5000, 200, Marks(1002), g2},
        {"get2 exact fit", Call::Get2, HttpResponse(200, body), 5000, 5000, 200, body + z + "#", g2,
         true},
        {"get2 room to spare", Call::Get2, HttpResponse(200, body), 6000, 5000, 200,
         body + z + Marks(1001), g2, true},
        {"get2 body ends early", Call::Get2, early, 5000, 3000, 200,
         body.substr(0, 3000) + z + Marks(2001), g2},
        {"get2 without length", Call::Get2, unannounced, 100, 0, 200, z + Marks(101), g2, false,
         "/ ] query content-length failed...\n"},
        {"get without length", Call::Get, unannounced, kNone, 0, 200, "##", g},
        {"get3 whole body", Call::Get3, HttpResponse(200, body), 0, 5000, 200, body + z, g},
        {"get3 length only", Call::Get3, HttpResponse(200, body), kNone, 5000, 200, "<none>", g},
        {"get3 zero bytes kept", Call::Get3, HttpResponse(200, zeros), 0, 3000, 200, zeros + z, g,
         true},
        {"get3 empty body", Call::Get3, HttpResponse(200, ""), 0, 0, 200, z, g},
        {"get error page", Call::Get, HttpResponse(404, page), 21, 21, 404, page + z + "#",
         GetLine("ZEMUrlGet", 404)},
        {"get2 error page", Call::Get2, HttpResponse(404, page), 21, 21, 404, page + z + "#",
         GetLine("ZEMUrlGet2", 404)},
        {"get3 error page", Call::Get3, HttpResponse(404, page), 0, 21, 404, page + z,
         GetLine("ZEMUrlGet", 404)},
        {"post reads once", Call::Post, HttpResponse(200, reply), 10, 10, 200,
         "abcdefghij" + z + "#", PostLines(200, 10)},
        {"post without buffer", Call::Post, HttpResponse(200, reply), kNone, 30, 200, "##",
         PostLines(200, 30)},
        {"post with size 0", Call::Post, HttpResponse(200, reply), 0, 30, 200, "##",
         PostLines(200, 30)},
        {"post empty reply", Call::Post, HttpResponse(201, ""), 7, 0, 201, z + Marks(8),
         PostLines(201, 0)},
        {"post3 whole reply", Call::Post3, HttpResponse(500, zeros), 0, 3000, 500, zeros + z,
         PostLines(500, 3000), true},
        {"post3 length only", Call::Post3, HttpResponse(500, zeros), kNone, 3000, 500, "<none>",
         PostLines(500, 3000)},
        {"post3 empty reply", Call::Post3, HttpResponse(200, ""), 0, 0, 200, z, PostLines(200, 0)},
        // Replies stop at the ceiling; a length past 2^31 - 1 reads as 2^31 - 1, never wraps.
        {"get3 at the ceiling", Call::Get3, HttpResponse(200, ceiling), 0, 100000, 200, ceiling + z,
         g},
        {"get3 past the ceiling", Call::Get3, HttpResponse(200, ceiling + "x"), 0, -1, 200,
         "<none>", g},
        {"post3 past the ceiling", Call::Post3, HttpResponse(200, ceiling + "x"), 0, -1, 200,
         "<none>", PostLines(200, -1)},
        {"get huge length", Call::Get, huge + "4294972296\r\n\r\nb", kNone, INT32_MAX, 200, "##",
         g},
        {"get2 huge length", Call::Get2, huge + "2147488648\r\n\r\nb", 8, -INT32_MAX, 200,
         Marks(10), g2},
        {"get length with letters", Call::Get, huge + "12abc\r\n\r\nb", kNone, 12, 200, "##", g},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server([&row](ScriptedConnection& connection) {
            connection.ReadRequest();
            if (row.trickle) {
                connection.Trickle(row.answer, 777, std::chrono::milliseconds(2));
            } else {
                connection.Send(row.answer);
            }
        });
        TraceFile trace;
        const Outcome out = Perform(row.call, nullptr, server.url().c_str(), row.size);
        EXPECT_EQ(out.result, row.result);
        EXPECT_EQ(out.status, row.status);
        EXPECT_EQ(out.buffer, row.buffer);
        if (row.call == Call::Get3 || row.call == Call::Post3) {
            EXPECT_EQ(out.length, row.result >= 0 ? row.result : -7);
        }
        EXPECT_EQ(trace.OwnLines(), Replaced(row.trace, "{url}", server.url()));
        EXPECT_NE(trace.Text().find(row.report), std::string::npos) << trace.Text();
    }
}

}  // namespace
