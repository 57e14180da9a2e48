// The user's settings: a key of the current user's registry. Each value is written at once,
// in the order the engine writes them, so other processes see what they always saw.
#include <windows.h>

#include <new>

#include "platform/system.h"

namespace zemuser::platform {
namespace {

class RegistryKey final : public UserSettingsKey {
  public:
    ~RegistryKey() override {
        if (key_ != nullptr) RegCloseKey(key_);
    }

    bool ReadNumber(const char* name, std::uint32_t* value) override {
        DWORD type = REG_NONE;
        DWORD data = 0;
        DWORD size = sizeof data;
        const LONG status =
            RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
        if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
        *value = data;
        return true;
    }

    void WriteNumber(const char* name, std::uint32_t value) override {
        const DWORD data = value;
        RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    }

    HKEY key_ = nullptr;
};

}  // namespace

std::unique_ptr<UserSettingsKey> OpenUserSettingsKey(const char* path) {
    if (path == nullptr) return nullptr;
    // The object first, so that a key once open always has its closer.
    auto opened = std::unique_ptr<RegistryKey>(new (std::nothrow) RegistryKey);
    if (opened == nullptr || RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ | KEY_WRITE,
                                           &opened->key_) != ERROR_SUCCESS) {
        return nullptr;
    }
    return opened;
}

}  // namespace zemuser::platform
