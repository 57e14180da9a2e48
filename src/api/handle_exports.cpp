// Transfer handles and the release of buffers handed to the host.
#include <cstdlib>

#include "api/export_guard.h"
#include "api/session_registry.h"

using namespace zemuser;

extern "C" {

ZEM_API TransferHandle ZEM_CALL ZEMTransferBegin(void) {
    return GuardExport<TransferHandle>(
        nullptr, [] { return RegisterSession(std::make_shared<TransferSession>()); });
}

ZEM_API TransferHandle ZEM_CALL ZEMTransferBeginV2(const char* proxyUser,
                                                   const char* proxyPassword) {
    return GuardExport<TransferHandle>(nullptr, [&] {
        auto session = std::make_shared<TransferSession>();
        session->SetProxyCredentials(proxyUser, proxyPassword);
        return RegisterSession(std::move(session));
    });
}

ZEM_API void ZEM_CALL ZEMTransferEnd(TransferHandle handle) {
    GuardExport([&] {
        SessionRef session = RemoveSession(handle);
        if (session) session->CloseHandles();
    });
}

ZEM_API void ZEM_CALL CancelTransferFile(TransferHandle handle) {
    GuardExport([&] {
        SessionRef session = FindSession(handle);
        if (session) session->CloseHandles();
    });
}

ZEM_API void ZEM_CALL ZEMReleaseBuffer(void* buffer) {
    std::free(buffer);
}

}  // extern "C"
