// Every export family with each of its allocations failing in turn (counted in a first run): the
// call gives its normal result or its failure value, with every side effect matching the value,
// and leaves no descriptor, no session and (as the leak check at exit shows) no memory behind.
// The trace's lines may fail as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "fault_support.h"
#include "session/http_version_override.h"

namespace {

using namespace fault_testing;
using Clock = std::chrono::steady_clock;

// A call that takes the receive time-out has waited on the failure instead of ending it.
constexpr auto kReceiveTimeout = std::chrono::milliseconds(20000);
constexpr std::int32_t kUntouched = -7;
const std::string kBody = PatternText(3000, 1);

// A handle ended with the call's expression: each run takes the library from no session and back.
OwnedHandle Begun() {
    return OwnedHandle(ZEMTransferBegin());
}

// The servers and files every row uses, set up before any allocation is counted.
struct Scene {
    Scene() { WriteFileBytes(upload, content); }
    TempDir folder;
    const std::string target = folder.File("target.bin");
    const std::string upload = folder.File("upload.bin"), content = PatternText(6000, 5);
    const std::u16string wideTarget{target.begin(), target.end()};
    const std::u16string wideUpload{upload.begin(), upload.end()};
    const char16_t *wideFile = wideTarget.c_str(), *wideSource = wideUpload.c_str();
    const PostFields fields{{"id", "9"}, {"note", "a b&c"}};
    ScriptedServer replies{Answer(HttpResponse(200, kBody))};
    // "OK" only to the whole body of either upload form.
    const std::vector<std::string> uploadBodies{
        TextPart("id", "9") + TextPart("note", "a b&c") + TextPart("file_num", "1") +
            FilePart("file1", upload, &content) + ClosingDelimiter(),
        TextPart("x", "kivStuff") + TextPart("act", "upload") + TextPart("session_id", "S1") +
            TextPart("file_num", "1") + FilePart("file1", upload, &content) + ClosingDelimiter()};
    ScriptedServer uploads{[this](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        const bool whole =
            std::count(uploadBodies.begin(), uploadBodies.end(), ParseRequest(request).body) > 0;
        if (!request.empty()) connection.Send(HttpResponse(200, whole ? "OK" : "INCOMPLETE"));
    }};
    const std::string url = replies.url("/reply?id=9"), uploadUrl = uploads.url("/files");
    const char *get = url.c_str(), *put = uploadUrl.c_str(), *file = target.c_str();
};

struct Outcome {
    std::int32_t result = 0, status = 0, length = kUntouched;
    char* handedOut = nullptr;
};

enum class Kind { Handed, File, Other };  // how an outcome is judged

struct Row {
    const char* name;
    Kind kind;
    std::int32_t (*call)(Scene&, Outcome&);
};

// clang-format off
const Row kRows[] = {
    {"ZEMUrlGet3", Kind::Handed, [](Scene& s, Outcome& o) {
        return ZEMUrlGet3(s.get, &o.status, &o.handedOut, &o.length, Begun().get()); }},
    {"ZEMUrlPost3", Kind::Handed, [](Scene& s, Outcome& o) {
        return ZEMUrlPost3(s.get, &s.fields, &o.status, &o.handedOut, &o.length, nullptr); }},
    {"ZEMUrlTransferFileW_download", Kind::File, [](Scene& s, Outcome&) {
        return ZEMUrlTransferFileW(Begun().get(), s.get, &s.fields, s.wideFile, 0); }},
    {"ZEMKIVTransferFile_download", Kind::File, [](Scene& s, Outcome&) {
        return ZEMKIVTransferFile(Begun().get(), s.get, "S1", "f.bin", s.file, 0); }},
    {"ZEMUrlTransferFile_upload", Kind::Other, [](Scene& s, Outcome&) {
        return ZEMUrlTransferFile(Begun().get(), s.put, &s.fields, s.upload.c_str(), 1); }},
    {"ZEMKIVTransferFileW_upload", Kind::Other, [](Scene& s, Outcome&) {
        return ZEMKIVTransferFileW(Begun().get(), s.put, "S1", nullptr, s.wideSource, 1); }},
    {"ZEMTransferBegin_Cancel_End", Kind::Other, [](Scene&, Outcome&) {
        const TransferHandle handles[] = {ZEMTransferBegin(), ZEMTransferBeginV2("user", "secret")};
        for (TransferHandle handle : handles) CancelTransferFile(handle);
        for (TransferHandle handle : handles) ZEMTransferEnd(handle);
        return std::int32_t{1}; }},
};
// clang-format on

// A reply of -1 leaves the out-parameters alone; any other is a prefix of the body (a failed
// read ends the reading with what had arrived). A download that reports 1 has the whole file,
// one that reports 0 none.
void Check(Kind kind, Scene& s, const Outcome& o, bool faulted) {
    EXPECT_TRUE(faulted || o.result == (kind == Kind::Handed ? 3000 : 1)) << o.result;
    if (kind == Kind::Handed) {
        EXPECT_EQ(o.handedOut != nullptr, o.result != -1);
        EXPECT_EQ(o.length, o.result == -1 ? kUntouched : o.result);
        if (o.result != -1 && o.handedOut != nullptr) {
            ASSERT_TRUE(o.result >= 0 && o.result <= 3000) << o.result;
            EXPECT_TRUE(o.status == 200 || o.status == 404) << o.status;
            const auto length = static_cast<std::size_t>(o.result);
            EXPECT_EQ(std::string(o.handedOut, length + 1), kBody.substr(0, length) + '\0');
        }
        return ZEMReleaseBuffer(o.handedOut);
    }
    EXPECT_TRUE(o.result == 0 || o.result == 1) << o.result;
    if (kind == Kind::File) {
        EXPECT_EQ(FileExists(s.target) ? ReadFileBytes(s.target) : "-",
                  o.result == 1 ? kBody : "-");
    }
    std::remove(s.target.c_str());
}

class AllocationFaults : public ::testing::TestWithParam<Row> {};

TEST_P(AllocationFaults, EachAllocationFailingInTurn) {
    const Row& row = GetParam();
    ScopedEnv timeout("ZEMUSER_RECEIVE_TIMEOUT_MS", std::to_string(kReceiveTimeout.count()));
    TraceFile trace;
    Scene scene;
    Outcome outcome;
    // Runs the call with the failAt-th allocation failing (none for 0) and checks it: how many
    // allocations it made.
    const auto run = [&](std::size_t failAt) {
        outcome = Outcome{};
        const auto start = Clock::now();
        {
            AllocationFaultScope scope(failAt);
            outcome.result = row.call(scene, outcome);
        }
        EXPECT_LT(Clock::now() - start, kReceiveTimeout);
        Check(row.kind, scene, outcome, ThreadFaults().delivered);
        return ThreadFaults().seen;
    };
    run(0);  // the first call of a kind sets up what lives for the process
    const int descriptors = CountOpenDescriptors();
    auto& sessions = zemuser::HttpVersionOverride::Instance();  // counts the live sessions
    const std::size_t count = run(0);
    ASSERT_GT(count, 10u);
    ASSERT_EQ(sessions.Count(), 0);
    // The first failing N is reported; later ones would mostly repeat it.
    for (std::size_t n = 1; n <= count && !HasFailure(); ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(count));
        run(n);
        EXPECT_EQ(CountOpenDescriptors(), descriptors);
        EXPECT_EQ(sessions.Count(), 0);
    }
    RecordProperty("allocations", static_cast<int>(count));
}

INSTANTIATE_TEST_SUITE_P(Exports, AllocationFaults, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
