// The transfer library's process-wide state and the per-thread pool of handle pairs.
#include <mutex>
#include <utility>

#include "platform/posix/http/exchange.h"

namespace zemuser::platform::http {
namespace {

// Enough for a thread that runs a transfer while another one's pair is still held.
constexpr std::size_t kPairsKeptPerThread = 2;

// One lock per kind of shared data: the library may hold one kind while taking another.
std::mutex gShareLocks[CURL_LOCK_DATA_LAST];

void LockShare(CURL*, curl_lock_data data, curl_lock_access, void*) {
    gShareLocks[data].lock();
}

void UnlockShare(CURL*, curl_lock_data data, void*) {
    gShareLocks[data].unlock();
}

// Pairs pass between threads freely: only the calling thread ever touches its own pool.
thread_local std::unique_ptr<TransferPair> tPool[kPairsKeptPerThread];

}  // namespace

void EnsureCurl() {
    // Set up once and never torn down: the host may unload us while its other code still uses
    // the same library.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CURLSH* CookieShare() {
    static CURLSH* const share = [] {
        EnsureCurl();
        CURLSH* made = curl_share_init();
        if (made != nullptr) {
            curl_share_setopt(made, CURLSHOPT_LOCKFUNC, &LockShare);
            curl_share_setopt(made, CURLSHOPT_UNLOCKFUNC, &UnlockShare);
            curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        }
        return made;
    }();
    return share;
}

std::unique_ptr<TransferPair> TakePair() {
    EnsureCurl();
    for (std::unique_ptr<TransferPair>& kept : tPool) {
        if (kept) return std::exchange(kept, nullptr);
    }
    auto pair = std::make_unique<TransferPair>();
    if (pair->multi == nullptr || pair->easy == nullptr) return nullptr;
    // One idle connection per pair, so a thread holds at most as many as its pool has pairs.
    curl_multi_setopt(pair->multi, CURLMOPT_MAXCONNECTS, 1L);
    return pair;
}

void ReturnPair(std::unique_ptr<TransferPair> pair, bool added) {
    if (!pair) return;
    // Removing an unfinished transfer closes its connection: only one whose answer was read
    // whole stays for the next request, which takes it unless the server has closed it.
    if (added) curl_multi_remove_handle(pair->multi, pair->easy);
    // The reset drops the list of cookie files without freeing it (this library version).
    curl_easy_setopt(pair->easy, CURLOPT_COOKIEFILE, nullptr);
    curl_easy_reset(pair->easy);
    for (std::unique_ptr<TransferPair>& kept : tPool) {
        if (!kept) {
            kept = std::move(pair);
            return;
        }
    }
}

}  // namespace zemuser::platform::http
