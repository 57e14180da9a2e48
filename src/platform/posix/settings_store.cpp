// The registry functions over the per-user settings store of files (settings_location.h). A
// key object only remembers where its file is: opening never touches the disk, the first
// write creates folders and file, and every read takes the file as it is at that moment.
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "platform/posix/handle_table.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/no_destructor.h"
#include "platform/posix/settings_file.h"
#include "platform/posix/settings_io.h"
#include "platform/posix/settings_location.h"

namespace {

using platform::posix::SettingsDocument;

struct SettingsKey {
    std::string storeFolder;
    std::string keyPath;  // "HKEY_CURRENT_USER/A/B" for HKEY_CURRENT_USER\A\B

    std::string FilePath() const { return storeFolder + "/" + keyPath + ".reg"; }
};

platform::posix::HandleTable<SettingsKey>& OpenKeys() {
    static platform::posix::NoDestructor<platform::posix::HandleTable<SettingsKey>> table;
    return table.get();
}

// The key behind a handle: an open key, or the current user's root itself.
std::optional<SettingsKey> ResolveKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) {
        auto folder = platform::posix::SettingsStoreFolder();
        if (!folder) return std::nullopt;
        return SettingsKey{std::move(*folder), "HKEY_CURRENT_USER"};
    }
    if (auto open = OpenKeys().Find(key)) return *open;
    return std::nullopt;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM /*access*/, PHKEY result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (subKey == nullptr) return ERROR_FILE_NOT_FOUND;
    try {
        std::optional<SettingsKey> opened = ResolveKey(key);
        if (!opened) {
            return static_cast<LSTATUS>(key == HKEY_CURRENT_USER ? ERROR_FILE_NOT_FOUND
                                                                 : ERROR_INVALID_HANDLE);
        }
        if (!platform::posix::AppendSubKey(opened->keyPath, subKey)) {
            return ERROR_INVALID_PARAMETER;
        }
        *result =
            static_cast<HKEY>(OpenKeys().Add(std::make_shared<SettingsKey>(std::move(*opened))));
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                         LPDWORD dataSize) {
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        const std::optional<SettingsKey> opened = ResolveKey(key);
        if (!opened) return ERROR_INVALID_HANDLE;
        std::string text;
        if (LONG status = platform::posix::ReadSettingsText(opened->FilePath(), text);
            status != ERROR_SUCCESS)
            return status;
        const std::optional<DWORD> value =
            SettingsDocument::Parse(text).FindDword(valueName != nullptr ? valueName : "");
        if (!value) return ERROR_FILE_NOT_FOUND;

        if (type != nullptr) *type = REG_DWORD;
        if (data == nullptr) {
            if (dataSize != nullptr) *dataSize = sizeof(DWORD);
            return ERROR_SUCCESS;
        }
        const bool fits = *dataSize >= sizeof(DWORD);
        *dataSize = sizeof(DWORD);
        if (!fits) return ERROR_MORE_DATA;
        std::memcpy(data, &*value, sizeof(DWORD));
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    const std::string_view name = valueName != nullptr ? valueName : "";
    // Only dword values are ever written by the engine, so they are all the store keeps.
    if (type != REG_DWORD || data == nullptr || dataSize != sizeof(DWORD) ||
        !platform::posix::IsStorableValueName(name)) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD value;
    std::memcpy(&value, data, sizeof(DWORD));
    try {
        const std::optional<SettingsKey> opened = ResolveKey(key);
        if (!opened) return ERROR_INVALID_HANDLE;
        return platform::posix::UpdateSettingsFile(opened->FilePath(), [&](std::string& text) {
            SettingsDocument document = SettingsDocument::Parse(text);
            document.SetDword(name, value);
            text = document.Serialize();
        });
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LSTATUS RegCloseKey(HKEY key) {
    if (key == HKEY_CURRENT_USER) return ERROR_SUCCESS;  // a root is never really opened
    return static_cast<LSTATUS>(OpenKeys().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}
