// FormatMessageA over the message tables of this folder. Texts end in "\r\n", as the message
// texts of Windows do, and carry no inserts.
#include <cstdlib>
#include <cstring>

#include "platform/posix/kernel32.h"
#include "platform/posix/message_table.h"
#include "platform/posix/modules.h"

namespace {

const char* LookUp(DWORD flags, LPCVOID source, DWORD messageId) {
    const char* text = nullptr;
    if ((flags & FORMAT_MESSAGE_FROM_HMODULE) && source == platform::posix::InternetModule()) {
        text = platform::posix::InternetMessageText(messageId);
    }
    // With both sources named, Windows searches the module first and then the system.
    if (text == nullptr && (flags & FORMAT_MESSAGE_FROM_SYSTEM)) {
        text = platform::posix::SystemMessageText(messageId);
    }
    return text;
}

}  // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD /*languageId*/,
                     LPSTR buffer, DWORD size, va_list* /*arguments*/) {
    if (buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = LookUp(flags, source, messageId);
    if (text == nullptr) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    constexpr char kLineEnd[] = "\r\n";
    const std::size_t textLength = std::strlen(text);
    const std::size_t length = textLength + sizeof(kLineEnd) - 1;

    char* target = buffer;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        // `size` is then the least number of bytes to allocate; LocalFree releases the block.
        const std::size_t bytes = length + 1 > size ? length + 1 : size;
        target = static_cast<char*>(std::calloc(bytes, 1));
        if (target == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<char**>(buffer) = target;
    } else if (length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(target, text, textLength);
    std::memcpy(target + textLength, kLineEnd, sizeof(kLineEnd));
    return static_cast<DWORD>(length);
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
