// The transfer library's process-wide state (set up once, thread-safely) and the per-thread
// pool of handle pairs that exchanges run on, so that a request costs no new multi handle and
// no new wake-up socket pair.
#pragma once

#include <curl/curl.h>

#include <memory>

namespace zemuser::platform::http {

// Sets the library up once; every entry point that may reach it calls this first.
void EnsureCurl();

// The share handle through which every transfer keeps its cookies in one in-memory jar.
CURLSH* CookieShare();

// A multi handle and the easy handle that runs on it.
struct TransferPair {
    TransferPair();
    ~TransferPair();
    TransferPair(const TransferPair&) = delete;
    TransferPair& operator=(const TransferPair&) = delete;
    CURLM* multi;
    CURL* easy;
};

// From the calling thread's pool, or new; null when out of memory.
std::unique_ptr<TransferPair> TakePair();
// Removes the easy handle from its multi (`added`), resets it, and keeps the pair in the
// calling thread's pool (or frees it when the pool is full).
void ReturnPair(std::unique_ptr<TransferPair> pair, bool added);

}  // namespace zemuser::platform::http
