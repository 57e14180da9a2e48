// The texts of internet error codes, from WinINet's own message table.
#include <windows.h>

#include <memory>
#include <string>

#include "platform/http_transport.h"

namespace zemuser::platform {
namespace {

struct LocalFreeDeleter {
    void operator()(char* text) const { LocalFree(text); }
};

}  // namespace

std::string InternetErrorText(ErrorCode code) {
    HMODULE module = GetModuleHandleA("wininet.dll");
    // A null module would make FormatMessageA search the program's own table.
    if (module == nullptr) return {};
    char* allocated = nullptr;
    // Only the module's table is searched, so system error codes find no text.
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE, module, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&allocated), 0, nullptr);
    const std::unique_ptr<char, LocalFreeDeleter> message(allocated);
    if (length == 0 || message == nullptr) return {};
    // As the table words it, line end included: the report writes it so.
    return std::string(message.get(), length);
}

}  // namespace zemuser::platform
