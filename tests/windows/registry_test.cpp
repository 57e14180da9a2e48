// The user's HTTP/1.1 settings in the real registry, held off while any session lives. The
// runner sets both to 1, and runs this again in a new process to find them restored.
#include <functional>

#include "wine_support.h"

namespace wine_testing {
namespace {

// "EnableHttp1_1" and "ProxyHttp1.1" as the registry holds them, -1 for a missing one.
std::string Http11Settings() {
    std::string values;
    for (const char* name : {"EnableHttp1_1", "ProxyHttp1.1"}) {
        DWORD value = 0, size = sizeof value;
        bool found = RegGetValueA(HKEY_CURRENT_USER,
                                  "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings",
                                  name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS;
        values += (found ? std::to_string(value) : "-1") + " ";
    }
    return values;
}

TEST(WineRegistry, Http11SettingsAreHeldOffWhileASessionLives) {
    OwnedHandle first, second;
    ScriptedServer server(Answer(HttpResponse(200, "")));
    std::int32_t status = 0;
    // clang-format off
    const struct { const char* name; std::function<void()> step; const char* settings; } rows[] = {
        {"before any session", [] {}, "1 1 "},
        {"one handle", [&] { first = BeginHandle(); }, "0 0 "},
        {"a second handle, the first ended", [&] { second = BeginHandle(); first.reset(); }, "0 0 "},
        {"a call's own session came and went",
         [&] { ZEMUrlGet(server.url().c_str(), &status, nullptr, 0, nullptr); }, "0 0 "},
        {"the last handle ended", [&] { second.reset(); }, "1 1 "},
        {"one left open until the process ends", [] { ZEMTransferBegin(); }, "0 0 "},
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.step();
        EXPECT_EQ(Http11Settings(), row.settings);
    }
    EXPECT_EQ(status, 200);
}

}  // namespace
}  // namespace wine_testing
