// Options of connection and request handles: security flags, proxy credentials and the
// client certificate choice.
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/posix/internet/api_support.h"
#include "platform/posix/internet/internet_objects.h"

using namespace platform::internet;

namespace {

// The proxy credential slot an option names on a connection or a request.
std::optional<std::string>* CredentialSlot(InternetObject& object, DWORD option,
                                           std::unique_lock<std::mutex>* lock) {
    ProxyCredentials* credentials = nullptr;
    if (object.kind() == HandleKind::Connection) {
        auto& connection = static_cast<ConnectionObject&>(object);
        *lock = std::unique_lock<std::mutex>(connection.optionsMutex);
        credentials = &connection.proxyCredentials;
    } else if (object.kind() == HandleKind::Request) {
        auto& request = static_cast<RequestObject&>(object);
        *lock = std::unique_lock<std::mutex>(request.connection->optionsMutex);
        credentials = &request.proxyCredentials;
    } else {
        return nullptr;
    }
    return option == INTERNET_OPTION_PROXY_USERNAME ? &credentials->user : &credentials->password;
}

bool IsCredentialOption(DWORD option) {
    return option == INTERNET_OPTION_PROXY_USERNAME || option == INTERNET_OPTION_PROXY_PASSWORD;
}

}  // namespace

BOOL InternetQueryOptionA(HINTERNET handle, DWORD option, LPVOID buffer, LPDWORD bufferLength) {
    std::shared_ptr<InternetObject> object = InternetHandles::Instance().Find(handle);
    if (!object) return Fail(ERROR_INVALID_HANDLE);
    if (bufferLength == nullptr) return Fail(ERROR_INVALID_PARAMETER);

    if (option == INTERNET_OPTION_SECURITY_FLAGS) {
        if (object->kind() != HandleKind::Request)
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        auto& request = static_cast<RequestObject&>(*object);
        if (buffer == nullptr || *bufferLength < sizeof(DWORD)) {
            *bufferLength = sizeof(DWORD);
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        }
        std::lock_guard<std::mutex> lock(request.callMutex);
        std::memcpy(buffer, &request.securityFlags, sizeof(DWORD));
        *bufferLength = sizeof(DWORD);
        return TRUE;
    }
    if (IsCredentialOption(option)) {
        std::unique_lock<std::mutex> lock;
        std::optional<std::string>* slot = CredentialSlot(*object, option, &lock);
        if (slot == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        const DWORD error = CopyOut(slot->value_or(std::string()), buffer, bufferLength);
        return error == 0 ? TRUE : Fail(error);
    }
    return Fail(ERROR_INTERNET_INVALID_OPTION);
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) {
    std::shared_ptr<InternetObject> object = InternetHandles::Instance().Find(handle);
    if (!object) return Fail(ERROR_INVALID_HANDLE);

    if (option == INTERNET_OPTION_SECURITY_FLAGS) {
        if (object->kind() != HandleKind::Request)
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        if (buffer == nullptr || bufferLength < sizeof(DWORD)) {
            return Fail(ERROR_INTERNET_BAD_OPTION_LENGTH);
        }
        auto& request = static_cast<RequestObject&>(*object);
        std::lock_guard<std::mutex> lock(request.callMutex);
        std::memcpy(&request.securityFlags, buffer, sizeof(DWORD));
        return TRUE;
    }
    if (IsCredentialOption(option)) {
        std::unique_lock<std::mutex> lock;
        std::optional<std::string>* slot = CredentialSlot(*object, option, &lock);
        if (slot == nullptr) return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        *slot = std::string(TextWithLength(static_cast<LPCSTR>(buffer), bufferLength));
        return TRUE;
    }
    if (option == INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT) {
        // The buffer is the chosen certificate itself (null: none), never read here; from now
        // on a certificate request of the server is answered without one.
        if (object->kind() != HandleKind::Request)
            return Fail(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        auto& request = static_cast<RequestObject&>(*object);
        std::lock_guard<std::mutex> lock(request.callMutex);
        request.clientCertChosen = true;
        return TRUE;
    }
    return Fail(ERROR_INTERNET_INVALID_OPTION);
}
