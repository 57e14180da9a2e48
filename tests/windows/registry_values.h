// The user's HTTP/1.1 settings in the real registry, for the settings table under Wine.
#pragma once

#include <windows.h>

#include <string>

constexpr char kInternetSettings[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

inline std::string Stored(const char* name) {  // "-" when missing
    DWORD value = 0, size = sizeof value;
    if (RegGetValueA(HKEY_CURRENT_USER, kInternetSettings, name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS) {
        return "-";
    }
    return std::to_string(value);
}

inline void UserSetsBothTo5() {
    const DWORD five = 5;
    for (const char* name : {"EnableHttp1_1", "ProxyHttp1.1"}) {
        RegSetKeyValueA(HKEY_CURRENT_USER, kInternetSettings, name, REG_DWORD, &five, sizeof five);
    }
}
