// Every export family with each of its allocations failing in turn: the call gives its normal
// result or its failure value, its side effects match the value, and it leaves no descriptor,
// session or (the leak check at exit shows) memory behind.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <new>

#include "fault_support.h"
#include "faults/sound_reply.h"
#include "session/http_version_override.h"

// The real allocator, reached past the --wrap redirection of this binary.
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __real_calloc(std::size_t count, std::size_t size);
extern "C" void* __real_realloc(void* block, std::size_t size);

fault_testing::AllocationFaults& fault_testing::ThreadFaults() {
    static thread_local AllocationFaults faults{};
    return faults;
}

// Counts one allocation; true when it must fail. `watchedSize` is 0 for operator new.
static bool FailThisOne(std::size_t watchedSize) {
    fault_testing::AllocationFaults& faults = fault_testing::ThreadFaults();
    if (faults.watchAction != nullptr && watchedSize != 0 && watchedSize >= faults.watchBytes) {
        void (*action)() = faults.watchAction;
        faults.watchAction = nullptr;  // once, and never from inside the action itself
        action();
    }
    if (!faults.armed || ++faults.seen != faults.failAt) return false;
    faults.delivered = true;
    errno = ENOMEM;
    return true;
}

// clang-format off
extern "C" {
void* __wrap_malloc(std::size_t size) { return FailThisOne(size) ? nullptr : __real_malloc(size); }
void* __wrap_calloc(std::size_t count, std::size_t size) {
    return FailThisOne(count * size) ? nullptr : __real_calloc(count, size); }
// A failed realloc leaves the old block as it was, which the caller still owns.
void* __wrap_realloc(void* block, std::size_t size) {
    return size != 0 && FailThisOne(size) ? nullptr : __real_realloc(block, size); }
}  // extern "C"

// Every form is replaced, so that no block crosses to a sanitizer's own new or delete.
static void* NewBlockOrNull(std::size_t size) noexcept {
    return FailThisOne(0) ? nullptr : __real_malloc(size == 0 ? 1 : size); }
static void* NewBlock(std::size_t size) {
    void* block = NewBlockOrNull(size);
    return block != nullptr ? block : throw std::bad_alloc(); }
void* operator new(std::size_t size) { return NewBlock(size); }
void* operator new[](std::size_t size) { return NewBlock(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return NewBlockOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return NewBlockOrNull(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
// clang-format on

namespace {

using namespace fault_testing;
using Clock = std::chrono::steady_clock;

// A call that takes the receive time-out has waited on the failure instead of ending it.
constexpr auto kReceiveTimeout = std::chrono::milliseconds(20000);
constexpr std::int32_t kUntouched = -7;
const std::string kBody = PatternText(3000, 1);

// A handle ended with the call's expression: each run takes the library from no session and back.
const auto Begun = [] { return OwnedHandle(ZEMTransferBegin()); };

// The servers and files every row uses, set up before any allocation is counted.
struct Scene {
    Scene() { WriteFileBytes(upload, content); }
    TempDir folder;
    const std::string target = folder.File("target.bin");
    const std::string upload = folder.File("upload.bin"), content = PatternText(6000, 5);
    const std::u16string wideTarget{target.begin(), target.end()};
    const std::u16string wideUpload{upload.begin(), upload.end()};
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
        return ZEMUrlTransferFileW(Begun().get(), s.get, &s.fields, s.wideTarget.c_str(), 0); }},
    {"ZEMKIVTransferFile_download", Kind::File, [](Scene& s, Outcome&) {
        return ZEMKIVTransferFile(Begun().get(), s.get, "S1", "f.bin", s.file, 0); }},
    {"ZEMUrlTransferFile_upload", Kind::Other, [](Scene& s, Outcome&) {
        return ZEMUrlTransferFile(Begun().get(), s.put, &s.fields, s.upload.c_str(), 1); }},
    {"ZEMKIVTransferFileW_upload", Kind::Other, [](Scene& s, Outcome&) {
        return ZEMKIVTransferFileW(Begun().get(), s.put, "S1", nullptr, s.wideUpload.c_str(), 1); }},
    {"ZEMTransferBegin_Cancel_End", Kind::Other, [](Scene&, Outcome&) {
        const TransferHandle handles[] = {ZEMTransferBegin(), ZEMTransferBeginV2("user", "secret")};
        for (TransferHandle handle : handles) CancelTransferFile(handle);
        for (TransferHandle handle : handles) ZEMTransferEnd(handle);
        return std::int32_t{1}; }},
};
// clang-format on

// A failed read ends the reading with what had arrived: a prefix. A download that reports 1 has
// the whole file, one that reports 0 none.
void Check(Kind kind, Scene& s, const Outcome& o, bool faulted) {
    EXPECT_TRUE(faulted || o.result == (kind == Kind::Handed ? 3000 : 1)) << o.result;
    if (kind == Kind::Handed) {
        EXPECT_TRUE(SoundReply(o.result, o.handedOut, o.length, kUntouched, &kBody)) << o.result;
        EXPECT_TRUE(o.result == -1 || o.status == 200 || o.status == 404) << o.status;
        return ZEMReleaseBuffer(o.handedOut);
    }
    EXPECT_TRUE(o.result == 0 || o.result == 1) << o.result;
    if (kind == Kind::File) {
        EXPECT_EQ(std::filesystem::exists(s.target) ? ReadFileBytes(s.target) : "-",
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
    std::size_t reported = 0;  // of the trace's text
    // The call with its failAt-th allocation failing (none for 0), checked: its allocations.
    const auto run = [&](std::size_t failAt) {
        outcome = Outcome{};
        const auto start = Clock::now();
        ThreadFaults() = {true, false, 0, failAt, 0, nullptr};
        outcome.result = row.call(scene, outcome);
        ThreadFaults().armed = false;
        EXPECT_LT(Clock::now() - start, kReceiveTimeout);
        Check(row.kind, scene, outcome, ThreadFaults().delivered);
        // A failure the lack of memory caused is reported as that, not as another one.
        const std::string text = trace.Text();
        for (auto at = text.find("\n[", reported); at != std::string::npos;
             at = text.find("\n[", at + 1)) {
            if (std::isdigit(static_cast<unsigned char>(text[at + 2]))) {  // a code, not a URL
                EXPECT_EQ(text.substr(at + 1, 14), "[8, 0x00000008") << text.substr(at + 1, 80);
            }
        }
        reported = text.size();
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
}

INSTANTIATE_TEST_SUITE_P(Exports, AllocationFaults, ::testing::ValuesIn(kRows), kRowName);

// An ended handle leaves nothing behind: a thousand begin-end pairs allocate a thousand times
// what one pair does.
TEST(HandleAllocations, EndedHandlesLeaveNothingBehind) {
    const auto allocations = [](std::size_t pairs) {
        ThreadFaults() = {true, false, 0, 0, 0, nullptr};  // counted, none failing
        for (std::size_t i = 0; i < pairs; ++i) ZEMTransferEnd(ZEMTransferBegin());
        ThreadFaults().armed = false;
        return ThreadFaults().seen;
    };
    allocations(1);  // what lives for the process
    EXPECT_EQ(allocations(1000), 1000 * allocations(1));
}

}  // namespace
