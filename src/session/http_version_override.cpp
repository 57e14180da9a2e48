#include "session/http_version_override.h"

#include <atomic>

namespace {

constexpr const char kInternetSettingsKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr const char kEnableHttp11[] = "EnableHttp1_1";
constexpr const char kProxyHttp11[] = "ProxyHttp1.1";

// The user's values, read once per process at the first Acquire.
DWORD savedEnableHttp11 = 1;
DWORD savedProxyHttp11 = 1;
bool firstAcquire = true;

// Set once the unload step has run: a session that ends later (a host's own static
// destructor, say) must not touch the retired instance.
std::atomic<bool> retired{false};

DWORD ReadDword(HKEY key, const char* name) {
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof(value);
    LONG result =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (result != ERROR_SUCCESS || type != REG_DWORD) return 1;
    return value;
}

void WriteDword(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

HttpVersionOverride& HttpVersionOverride::Instance() {
    // Made exactly once even when two threads create the first sessions together; its
    // destructor (the unload step) is registered now, after the trace log's, so it runs
    // before the trace file is closed.
    static HttpVersionOverride instance;
    return instance;
}

HttpVersionOverride::HttpVersionOverride() = default;

HttpVersionOverride::~HttpVersionOverride() {
    {
        CriticalSectionScope lock(m_lock);
        WriteHttpVersionSettings(true);
        retired.store(true);
    }
}

void HttpVersionOverride::Acquire() {
    if (retired.load()) return;
    CriticalSectionScope lock(m_lock);
    ++m_count;
    if (m_count == 1) WriteHttpVersionSettings(false);
}

void HttpVersionOverride::Release() {
    if (retired.load()) return;
    CriticalSectionScope lock(m_lock);
    --m_count;
    if (m_count == 0) WriteHttpVersionSettings(true);
    if (m_count < 0) m_count = 0;
}

std::int32_t HttpVersionOverride::Count() {
    CriticalSectionScope lock(m_lock);
    return m_count;
}

void HttpVersionOverride::WriteHttpVersionSettings(bool restore) {
    HKEY key = nullptr;
    // A key that cannot be opened makes every read fail (the defaults of 1 are remembered)
    // and every write do nothing.
    bool opened = RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettingsKey, 0, KEY_READ | KEY_WRITE,
                                &key) == ERROR_SUCCESS;
    if (!restore) {
        if (firstAcquire) {
            firstAcquire = false;
            savedEnableHttp11 = opened ? ReadDword(key, kEnableHttp11) : 1;
            savedProxyHttp11 = opened ? ReadDword(key, kProxyHttp11) : 1;
        }
        if (opened) {
            WriteDword(key, kEnableHttp11, 0);
            WriteDword(key, kProxyHttp11, 0);
        }
    } else if (opened) {
        WriteDword(key, kEnableHttp11, savedEnableHttp11);
        WriteDword(key, kProxyHttp11, savedProxyHttp11);
    }
    if (opened) RegCloseKey(key);
}
