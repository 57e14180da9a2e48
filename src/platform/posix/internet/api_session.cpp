// Opening the root and connection handles, closing any handle, and the error dialog.
#include <memory>

#include "platform/posix/internet/api_support.h"
#include "platform/posix/internet/internet_objects.h"

using namespace platform::internet;

namespace {

// Registers `child` under `parent`; fails when the parent was closed meanwhile.
HINTERNET AddUnder(InternetObject& parent, std::shared_ptr<InternetObject> child) {
    InternetHandles& handles = InternetHandles::Instance();
    HINTERNET handle = handles.Add(std::move(child));
    try {
        parent.AddChild(handle);
    } catch (...) {
        handles.Close(handle);  // out of memory: the child must not stay open, unowned
        throw;
    }
    if (parent.closed()) {
        handles.Close(handle);
        return FailHandle(ERROR_INVALID_HANDLE);
    }
    return handle;
}

}  // namespace

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass,
                        DWORD /*flags*/) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT &&
        accessType != INTERNET_OPEN_TYPE_PROXY) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    EnsureTransferLibrary();
    auto root = std::make_shared<RootObject>();
    root->agent = TextOrEmpty(agent);
    root->proxy.accessType = accessType;
    root->proxy.proxy = TextOrEmpty(proxy);
    root->proxy.bypass = TextOrEmpty(proxyBypass);
    return InternetHandles::Instance().Add(std::move(root));
}

HINTERNET InternetConnectA(HINTERNET internet, LPCSTR serverName, INTERNET_PORT serverPort,
                           LPCSTR userName, LPCSTR password, DWORD service, DWORD /*flags*/,
                           DWORD_PTR /*context*/) {
    DWORD error = 0;
    auto root = InternetHandles::Instance().FindAs<RootObject>(internet, HandleKind::Root, &error);
    if (!root) return FailHandle(error);
    if (serverName == nullptr || *serverName == '\0' || service != INTERNET_SERVICE_HTTP) {
        return FailHandle(ERROR_INVALID_PARAMETER);
    }
    auto connection = std::make_shared<ConnectionObject>();
    connection->root = root;
    connection->host = serverName;
    // An IPv6 address may come in its URL spelling.
    if (connection->host.size() > 2 && connection->host.front() == '[' &&
        connection->host.back() == ']') {
        connection->host = connection->host.substr(1, connection->host.size() - 2);
    }
    connection->port = serverPort != 0 ? serverPort : INTERNET_DEFAULT_HTTP_PORT;
    connection->user = TextOrEmpty(userName);
    connection->password = TextOrEmpty(password);
    return AddUnder(*root, std::move(connection));
}

// The connection is made by the first send; there is nothing to try beforehand.
DWORD InternetAttemptConnect(DWORD /*reserved*/) {
    return ERROR_SUCCESS;
}

BOOL InternetCloseHandle(HINTERNET handle) {
    // Success leaves the last error alone: failure reports read it after the close.
    if (!InternetHandles::Instance().Close(handle)) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

// There is no window system to ask the user: every dialog counts as cancelled.
DWORD InternetErrorDlg(HWND /*window*/, HINTERNET /*request*/, DWORD /*error*/, DWORD /*flags*/,
                       LPVOID* /*data*/) {
    return ERROR_CANCELLED;
}
