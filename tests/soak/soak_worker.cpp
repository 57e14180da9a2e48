#include "soak_worker.h"

#include <cstring>
#include <filesystem>

namespace soak {
namespace {

namespace fs = std::filesystem;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

// How often each family is chosen, in parts of the whole.
constexpr std::pair<Family, int> kMix[] = {
    {Family::Fetch, 24},
    {Family::Post, 12},
    {Family::UrlDownload, 12},
    {Family::UrlUpload, 8},
    {Family::ConferenceDownload, 12},
    {Family::ConferenceUpload, 8},
    {Family::Handles, 5},
    {Family::Cancel, 16},
    {Family::Diagnostics, 3},
};
constexpr std::size_t kLargestUpload = 200000;

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Reads a file that may not exist: "" then, and `exists` false.
std::string ContentOf(const std::string& path, bool* exists) {
    *exists = FileExists(path);
    return *exists ? ReadFileBytes(path) : std::string();
}

}  // namespace

Worker::Worker(int index, unsigned seed, const SoakWorld& world, HandleSlots& slots, Tally& tally)
    : index_(index),
      random_(seed + static_cast<unsigned>(index) * 7919u),
      world_(world),
      slots_(slots),
      tally_(tally),
      uploadSession_("up-" + std::to_string(index)) {
    public_ = ZEMTransferBegin();
    private_ = ZEMTransferBeginV2("soak-user", "soak-password");
    slots_[static_cast<std::size_t>(index_)].handle.store(public_);
}

Worker::~Worker() {
    slots_[static_cast<std::size_t>(index_)].handle.store(nullptr);
    ZEMTransferEnd(public_);
    ZEMTransferEnd(private_);
}

void Worker::RunOne() {
    int total = 0;
    for (const auto& entry : kMix) total += entry.second;
    int pick = std::uniform_int_distribution<int>(0, total - 1)(random_);
    for (const auto& entry : kMix) {
        if (pick < entry.second) return Run(entry.first);
        pick -= entry.second;
    }
}

void Worker::Run(Family family) {
    tally_.Count(family);
    switch (family) {
        case Family::Fetch:
            return Fetch();
        case Family::Post:
            return Post();
        case Family::UrlDownload:
            return UrlDownload();
        case Family::UrlUpload:
            return UrlUpload();
        case Family::ConferenceDownload:
            return ConferenceDownload();
        case Family::ConferenceUpload:
            return ConferenceUpload();
        case Family::Handles:
            return CycleHandle();
        case Family::Cancel:
            return CancelAnother();
        case Family::Diagnostics:
            return PollCpu();
    }
}

void Worker::Fetch() {
    const Blob& blob = AnyBlob();
    const std::string url = world_.StaticUrl(blob, Chance(20));
    // A null handle gives the call a session of its own, which nobody can cancel.
    TransferHandle handle = Chance(50) ? public_ : nullptr;
    std::int32_t status = -1;
    const std::int32_t size = static_cast<std::int32_t>(blob.content.size());
    const CancelCounts before = CancelsSoFar();
    switch (std::uniform_int_distribution<int>(0, 2)(random_)) {
        case 0: {
            std::string buffer(blob.content.size() + 1, '#');
            const std::int32_t result = ZEMUrlGet(url.c_str(), &status, &buffer[0], size, handle);
            CheckReply("ZEMUrlGet", blob, result, status, buffer.data(),
                       CancelLanded(handle, before));
            break;
        }
        case 1: {
            std::string buffer(blob.content.size() + 1, '#');
            const std::int32_t result = ZEMUrlGet2(url.c_str(), &status, &buffer[0], size, handle);
            CheckReply("ZEMUrlGet2", blob, result, status, buffer.data(),
                       CancelLanded(handle, before));
            break;
        }
        default: {
            char* reply = nullptr;
            std::int32_t length = -7;
            const std::int32_t result = ZEMUrlGet3(url.c_str(), &status, &reply, &length, handle);
            if (result != -1 && (length != result || reply == nullptr)) {
                tally_.Inconsistent(Describe("ZEMUrlGet3 length and buffer", blob));
            }
            CheckReply("ZEMUrlGet3", blob, result, status, reply, CancelLanded(handle, before));
            ZEMReleaseBuffer(reply);
        }
    }
}

void Worker::Post() {
    const Blob& blob = AnyBlob();
    const PostFields fields{
        {"act", "fetch"}, {"session_id", SoakWorld::kSession}, {"filename", blob.name}};
    TransferHandle handle = Chance(50) ? public_ : nullptr;
    std::int32_t status = -1;
    const std::string& url = world_.ServiceUrl();
    const CancelCounts before = CancelsSoFar();
    if (Chance(50)) {
        std::string buffer(blob.content.size() + 1, '#');
        const std::int32_t result =
            ZEMUrlPost(url.c_str(), &fields, &status, &buffer[0],
                       static_cast<std::int32_t>(blob.content.size()), handle);
        CheckReply("ZEMUrlPost", blob, result, status, buffer.data(), CancelLanded(handle, before));
    } else {
        char* reply = nullptr;
        std::int32_t length = -7;
        const std::int32_t result =
            ZEMUrlPost3(url.c_str(), &fields, &status, &reply, &length, handle);
        CheckReply("ZEMUrlPost3", blob, result, status, reply, CancelLanded(handle, before));
        ZEMReleaseBuffer(reply);
    }
}

void Worker::UrlDownload() {
    const Blob& blob = AnyBlob();
    const PostFields fields{
        {"act", "fetch"}, {"session_id", SoakWorld::kSession}, {"filename", blob.name}};
    const TransferHandle handle = ChooseHandle();
    const std::string& url = world_.ServiceUrl();
    const CancelCounts before = CancelsSoFar();
    switch (std::uniform_int_distribution<int>(0, 2)(random_)) {
        case 0: {
            const std::string path = NextPath(".bin");
            const std::int32_t result =
                ZEMUrlTransferFile(handle, url.c_str(), &fields, path.c_str(), 0);
            CheckDownload("ZEMUrlTransferFile download", blob, result, path,
                          CancelLanded(handle, before));
            break;
        }
        case 1: {
            const std::string path = NextPath(".bin");
            const std::int32_t result =
                ZEMUrlTransferFileW(handle, url.c_str(), &fields, Wide(path).c_str(), 0);
            CheckDownload("ZEMUrlTransferFileW download", blob, result, path,
                          CancelLanded(handle, before));
            break;
        }
        default: {
            // Into a folder: the file takes the name the service announces.
            const std::string into = NextPath("-folder");
            fs::create_directory(into);
            char name[64];
            std::memset(name, '#', sizeof name);
            const std::int32_t result = ZEMNormalDownloadFile(handle, url.c_str(), &fields,
                                                              into.c_str(), name, sizeof name);
            if (result == 1 && std::string(name) != blob.name) {
                tally_.Inconsistent(Describe("ZEMNormalDownloadFile name", blob) + ": " + name);
            }
            CheckDownload("ZEMNormalDownloadFile", blob, result, into + "/" + blob.name,
                          CancelLanded(handle, before));
            if (result == 0 && !fs::is_empty(into)) {
                tally_.Inconsistent(Describe("ZEMNormalDownloadFile left a file", blob));
            }
            fs::remove_all(into);
        }
    }
}

void Worker::UrlUpload() {
    const Blob& blob = SmallBlob();
    const std::string path = NextPath(".up");
    const std::string name = fs::path(path).filename().string();
    WriteFileBytes(path, blob.content);
    const PostFields fields{{"act", "upload"}, {"session_id", uploadSession_}, {"x", "kivStuff"}};
    const TransferHandle handle = ChooseHandle();
    const std::string& url = world_.ServiceUrl();
    const bool wide = Chance(50);
    const CancelCounts before = CancelsSoFar();
    const std::int32_t result =
        wide ? ZEMUrlTransferFileW(handle, url.c_str(), &fields, Wide(path).c_str(), 1)
             : ZEMUrlTransferFile(handle, url.c_str(), &fields, path.c_str(), 1);
    CheckUpload(wide ? "ZEMUrlTransferFileW upload" : "ZEMUrlTransferFile upload", uploadSession_,
                name, blob.content, result, CancelLanded(handle, before));
    fs::remove(path);
}

void Worker::ConferenceDownload() {
    const Blob& blob = AnyBlob();
    const TransferHandle handle = ChooseHandle();
    const std::string path = NextPath(".bin");
    const std::string& url = world_.ServiceUrl();
    const bool wide = Chance(50);
    const CancelCounts before = CancelsSoFar();
    const std::int32_t result =
        wide ? ZEMKIVTransferFileW(handle, url.c_str(), SoakWorld::kSession,
                                   Wide(blob.name).c_str(), Wide(path).c_str(), 0)
             : ZEMKIVTransferFile(handle, url.c_str(), SoakWorld::kSession, blob.name.c_str(),
                                  path.c_str(), 0);
    CheckDownload(wide ? "ZEMKIVTransferFileW download" : "ZEMKIVTransferFile download", blob,
                  result, path, CancelLanded(handle, before));
}

void Worker::ConferenceUpload() {
    const Blob& blob = SmallBlob();
    const std::string path = NextPath(".up");
    const std::string name = fs::path(path).filename().string();
    WriteFileBytes(path, blob.content);
    const TransferHandle handle = ChooseHandle();
    const std::string& url = world_.ServiceUrl();
    const bool wide = Chance(50);
    const CancelCounts before = CancelsSoFar();
    const std::int32_t result =
        wide ? ZEMKIVTransferFileW(handle, url.c_str(), uploadSession_.c_str(), nullptr,
                                   Wide(path).c_str(), 1)
             : ZEMKIVTransferFile(handle, url.c_str(), uploadSession_.c_str(), nullptr,
                                  path.c_str(), 1);
    CheckUpload(wide ? "ZEMKIVTransferFileW upload" : "ZEMKIVTransferFile upload", uploadSession_,
                name, blob.content, result, CancelLanded(handle, before));
    fs::remove(path);
}

void Worker::CycleHandle() {
    // Others may still cancel the old value: an ended handle is simply not found.
    slots_[static_cast<std::size_t>(index_)].handle.store(nullptr);
    ZEMTransferEnd(public_);
    public_ = Chance(50) ? ZEMTransferBegin() : ZEMTransferBeginV2("someone", "secret");
    if (public_ == nullptr) tally_.Inconsistent("ZEMTransferBegin gave no handle");
    slots_[static_cast<std::size_t>(index_)].handle.store(public_);
}

void Worker::CancelAnother() {
    if (slots_.size() < 2) return;
    std::size_t other = std::uniform_int_distribution<std::size_t>(0, slots_.size() - 2)(random_);
    if (other >= static_cast<std::size_t>(index_)) ++other;
    HandleSlot& slot = slots_[other];
    ++slot.cancelsBegun;
    CancelTransferFile(slot.handle.load());
    ++slot.cancelsEnded;
}

void Worker::PollCpu() {
    std::int32_t process = -1;
    const std::int32_t machine = GetCPUUsage(&process);
    // The process's share comes from its own times (microseconds) and the machine's from the
    // kernel's tick counts, so on a machine the soak keeps fully busy it can pass 100 a little.
    if (machine < 0 || machine > 100 || process < 0 || process > 115) {
        tally_.Inconsistent("GetCPUUsage gave " + std::to_string(machine) + " and " +
                            std::to_string(process));
    }
}

void Worker::CheckReply(const char* what, const Blob& blob, std::int32_t result,
                        std::int32_t status, const char* bytes, bool cancelled) {
    const std::int32_t size = static_cast<std::int32_t>(blob.content.size());
    if (result == size && status == 200 && bytes != nullptr &&
        std::memcmp(bytes, blob.content.data(), blob.content.size()) == 0 && bytes[size] == '\0') {
        return;
    }
    if (cancelled) {
        // A cancel ends the call with its failure value or with what had arrived.
        if (result == -1) return tally_.CountInterrupted();
        if (result >= 0 && result < size && bytes != nullptr &&
            std::memcmp(bytes, blob.content.data(), static_cast<std::size_t>(result)) == 0 &&
            bytes[result] == '\0') {
            return tally_.CountInterrupted();
        }
    }
    tally_.Inconsistent(Describe(what, blob) + ": result " + std::to_string(result) + ", status " +
                        std::to_string(status) + (cancelled ? "" : " with no cancel issued"));
}

void Worker::CheckDownload(const char* what, const Blob& blob, std::int32_t result,
                           const std::string& path, bool cancelled) {
    bool exists = false;
    const std::string stored = ContentOf(path, &exists);
    fs::remove(path);
    if (result == 1 && stored == blob.content) return;
    if (cancelled && result == 0 && !exists) return tally_.CountInterrupted();
    tally_.Inconsistent(
        Describe(what, blob) + ": result " + std::to_string(result) +
        (exists ? ", a file of " + std::to_string(stored.size()) + " bytes" : ", no file") +
        (cancelled ? "" : " with no cancel issued"));
}

void Worker::CheckUpload(const char* what, const std::string& session, const std::string& name,
                         const std::string& content, std::int32_t result, bool cancelled) {
    // The service commits the file before it answers, so a reported success is on disk.
    const std::string path = world_.StoredFile(session, name);
    bool exists = false;
    const std::string stored = ContentOf(path, &exists);
    fs::remove(path);
    if (result == 1 && stored == content) return;
    if (cancelled && result == 0) return tally_.CountInterrupted();
    tally_.Inconsistent(
        std::string(what) + " of " + std::to_string(content.size()) + " bytes: result " +
        std::to_string(result) +
        (exists ? ", the service stored " + std::to_string(stored.size()) + " bytes"
                : ", the service stored nothing") +
        (stored.size() == content.size() && stored != content ? " that differ" : "") +
        (cancelled ? "" : " with no cancel issued"));
}

Worker::CancelCounts Worker::CancelsSoFar() const {
    const HandleSlot& slot = slots_[static_cast<std::size_t>(index_)];
    // Ended first: a cancel that begins between the two reads counts as running.
    const std::uint64_t ended = slot.cancelsEnded.load();
    return {slot.cancelsBegun.load(), ended};
}

bool Worker::CancelLanded(TransferHandle used, CancelCounts before) const {
    const bool running = before.begun != before.ended;
    const bool begunSince =
        slots_[static_cast<std::size_t>(index_)].cancelsBegun.load() != before.begun;
    return used != nullptr && used == public_ && (running || begunSince);
}

const Blob& Worker::AnyBlob() {
    const auto& blobs = world_.Blobs();
    return blobs[std::uniform_int_distribution<std::size_t>(0, blobs.size() - 1)(random_)];
}

const Blob& Worker::SmallBlob() {
    for (;;) {
        const Blob& blob = AnyBlob();
        if (blob.content.size() <= kLargestUpload) return blob;
    }
}

bool Worker::Chance(int percent) {
    return std::uniform_int_distribution<int>(0, 99)(random_) < percent;
}

TransferHandle Worker::ChooseHandle() {
    return Chance(60) ? public_ : private_;
}

std::string Worker::NextPath(const char* suffix) {
    return folder_.File("w" + std::to_string(index_) + "-" + std::to_string(++sequence_) + suffix);
}

std::string Worker::Describe(const char* what, const Blob& blob) const {
    return "worker " + std::to_string(index_) + ", " + what + " of " + blob.name;
}

}  // namespace soak
