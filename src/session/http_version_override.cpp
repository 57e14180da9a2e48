#include "session/http_version_override.h"

#include <atomic>

#include "platform/system.h"

namespace zemuser {
namespace {

constexpr const char kInternetSettingsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const char kEnableHttp11[] = "EnableHttp1_1";
constexpr const char kProxyHttp11[] = "ProxyHttp1.1";

// The user's values, read once per process at the first Acquire.
std::uint32_t savedEnableHttp11 = 1;
std::uint32_t savedProxyHttp11 = 1;
bool firstAcquire = true;

// Set once the unload step has run: a session that ends later (a host's own static
// destructor, say) must not touch the retired instance.
std::atomic<bool> retired{false};

// A value that is missing or not a 32-bit number is remembered as 1.
std::uint32_t ReadOrOne(platform::UserSettingsKey* key, const char* name) {
    std::uint32_t value = 1;
    if (key == nullptr || !key->ReadNumber(name, &value)) return 1;
    return value;
}

}  // namespace

HttpVersionOverride& HttpVersionOverride::Instance() {
    // Made exactly once even when two threads create the first sessions together; its
    // destructor (the unload step) is registered now, after the trace log's, so it runs
    // before the trace file is closed.
    static HttpVersionOverride instance;
    return instance;
}

HttpVersionOverride::~HttpVersionOverride() {
    std::lock_guard<std::mutex> lock(m_lock);
    WriteHttpVersionSettings(true);
    retired.store(true);
}

void HttpVersionOverride::Acquire() {
    if (retired.load()) return;
    std::lock_guard<std::mutex> lock(m_lock);
    ++m_count;
    if (m_count == 1) WriteHttpVersionSettings(false);
}

void HttpVersionOverride::Release() {
    if (retired.load()) return;
    std::lock_guard<std::mutex> lock(m_lock);
    --m_count;
    if (m_count == 0) WriteHttpVersionSettings(true);
    if (m_count < 0) m_count = 0;
}

std::int32_t HttpVersionOverride::Count() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_count;
}

void HttpVersionOverride::WriteHttpVersionSettings(bool restore) {
    // A key that cannot be opened makes every read fail (the defaults of 1 are remembered)
    // and every write do nothing.
    std::unique_ptr<platform::UserSettingsKey> key;
    try {
        key = platform::OpenUserSettingsKey(kInternetSettingsKey);
    } catch (...) {  // out of memory: as if the key could not be opened
    }
    if (!restore) {
        if (firstAcquire) {
            firstAcquire = false;
            savedEnableHttp11 = ReadOrOne(key.get(), kEnableHttp11);
            savedProxyHttp11 = ReadOrOne(key.get(), kProxyHttp11);
        }
        if (key) {
            key->WriteNumber(kEnableHttp11, 0);
            key->WriteNumber(kProxyHttp11, 0);
        }
    } else if (key) {
        key->WriteNumber(kEnableHttp11, savedEnableHttp11);
        key->WriteNumber(kProxyHttp11, savedProxyHttp11);
    }
}

}  // namespace zemuser
