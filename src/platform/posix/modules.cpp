// Modules: there is no dynamic loading of Windows libraries here. The names the engine asks
// for are answered with fixed handles, and the one function looked up by name is our own.
#include "platform/posix/modules.h"

#include <cctype>
#include <cstring>
#include <string_view>

#include "platform/posix/kernel32.h"

namespace {

char kernelModule;
char internetModule;

bool EqualsIgnoringCase(std::string_view left, std::string_view right) {
    if (left.size() != right.size()) return false;
    for (std::size_t i = 0; i < left.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(left[i])) !=
            std::tolower(static_cast<unsigned char>(right[i])))
            return false;
    }
    return true;
}

// Windows adds ".dll" to a module name without an extension.
bool NamesModule(LPCSTR given, std::string_view baseName) {
    if (given == nullptr) return false;
    std::string_view name(given);
    constexpr std::string_view kExtension = ".dll";
    if (name.size() > kExtension.size() &&
        EqualsIgnoringCase(name.substr(name.size() - kExtension.size()), kExtension)) {
        name.remove_suffix(kExtension.size());
    }
    return EqualsIgnoringCase(name, baseName);
}

}  // namespace

namespace platform::posix {

HMODULE KernelModule() {
    return &kernelModule;
}
HMODULE InternetModule() {
    return &internetModule;
}

}  // namespace platform::posix

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (NamesModule(fileName, "kernel32")) return &kernelModule;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module != &kernelModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (procName != nullptr && std::strcmp(procName, "GetSystemTimes") == 0) {
        return reinterpret_cast<FARPROC>(&GetSystemTimes);
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
    if (module != &kernelModule) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
    if (NamesModule(moduleName, "wininet")) return &internetModule;
    if (NamesModule(moduleName, "kernel32")) return &kernelModule;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}
