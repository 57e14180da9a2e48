// The user's HTTP/1.1 settings, held off while any session lives (a handle's or a call's own),
// restored when the last one ends and when the process ends; read once per process, a missing
// value restored as 1. Under Wine in the real registry: the runner sets both to 1, and runs
// this again in a new process to find them restored.
#include <cstring>
#include <functional>
#include <future>

#include "api_support.h"
#ifdef _WIN32
#include "windows/registry_values.h"  // Stored and UserSetsBothTo5 in the registry
#endif

namespace {

#ifndef _WIN32
std::string Stored(const char* name) {  // "-" when missing
    const std::string text = fs::exists(kHttp11File) ? ReadFileBytes(kHttp11File) : "";
    const auto at = text.rfind("\"" + std::string(name) + "\"=dword:");
    if (at == std::string::npos) return "-";
    return std::to_string(std::stoul(text.substr(at + std::strlen(name) + 9, 8), nullptr, 16));
}
void UserSetsBothTo5() {
    WriteFileBytes(kHttp11File,
                   "\"EnableHttp1_1\"=dword:00000005\n\"ProxyHttp1.1\"=dword:00000005\n");
}
#endif

TEST(HttpSettingsOverride, HeldOffWhileAnySessionLives) {
    OwnedHandle first, second;
    EventCount arrived;
    std::promise<void> release;
    // Holds its answer until released: a call with a null handle outlives both handles.
    ScriptedServer holding([&, answer = release.get_future().share()](ScriptedConnection& c) {
        c.ReadRequest();
        arrived.Raise();
        answer.wait_for(std::chrono::seconds(60));
        c.Send(HttpResponse(200, "done"));
    });
    std::int32_t status = 0;
    std::thread call;
    const auto handleComesAndGoes = [] { ZEMTransferEnd(ZEMTransferBegin()); };
    // clang-format off
    const struct { const char* name; std::function<void()> step; const char* settings; } rows[] = {
        {"a handle came and went", handleComesAndGoes, "1 1"},
        {"one handle", [&] { first = BeginHandle(); }, "0 0"},
        {"a second handle, the first ended", [&] { second = BeginHandle(); first.reset(); }, "0 0"},
        {"a call's own session outlives the handles", [&] {
            call = std::thread([&] { ZEMUrlGet(holding.url().c_str(), &status, nullptr, 0, nullptr); });
            EXPECT_TRUE(arrived.AwaitAtLeast(1));
            second.reset(); }, "0 0"},
        {"the call ended", [&] { release.set_value(); call.join(); }, "1 1"},
        // Read again, the user's new values would come back.
        {"changed by the user meanwhile", [&] { UserSetsBothTo5(); handleComesAndGoes(); }, "1 1"},
#ifdef _WIN32
        {"one left open until the process ends", [] { ZEMTransferBegin(); }, "0 0"},
#else
        {"a process ended with a handle open", [] {
            const ChildEnd end = RunInChild([] { ZEMTransferBegin(); std::exit(0); return 0; });
            EXPECT_TRUE(end.Succeeded()) << end.Describe(); }, "1 1"},
#endif
    };
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.step();
        EXPECT_EQ(Stored("EnableHttp1_1") + " " + Stored("ProxyHttp1.1"), row.settings);
    }
    EXPECT_EQ(status, 200);
}

}  // namespace
