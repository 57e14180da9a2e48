// In-memory fetch: a GET whose body goes into the host's buffer, or into a new buffer that the
// host releases with ZEMReleaseBuffer.
#include "api/export_guard.h"
#include "api/family_a.h"
#include "api/reply_buffer.h"

using namespace zemuser;

namespace {

FamilyACall FetchCall(const char* url, std::int32_t* status, TransferHandle handle) {
    return FamilyACall{url, status, handle, RequestKind::RequestGet, nullptr, nullptr};
}

}  // namespace

extern "C" {

ZEM_API int32_t ZEM_CALL ZEMUrlGet(const char* url, int32_t* status, char* buffer, int32_t size,
                                   TransferHandle handle) {
    return GuardExport(kFamilyAFailed, [&] {
        return RunFamilyA(FetchCall(url, status, handle), [&](TransferSession& session) {
            ReportStatus(session, status, "ZEMUrlGet Result Code: %d\n");
            if (buffer == nullptr || size <= 0) return session.QueryContentLength();
            std::uint32_t count = session.ReadResponse(buffer, static_cast<std::uint32_t>(size));
            buffer[count] = '\0';
            return static_cast<std::int32_t>(count);
        });
    });
}

ZEM_API int32_t ZEM_CALL ZEMUrlGet2(const char* url, int32_t* status, char* buffer, int32_t size,
                                    TransferHandle handle) {
    return GuardExport(kFamilyAFailed, [&] {
        return RunFamilyA(FetchCall(url, status, handle), [&](TransferSession& session) {
            ReportStatus(session, status, "ZEMUrlGet2 Result Code: %d\n");
            std::int32_t length = session.QueryContentLength();
            if (buffer == nullptr || size <= 0) return length;
            if (size < length) {
                session.CloseHandles();
                return -length;
            }
            std::int32_t total = 0;
            while (total < length) {
                std::uint32_t count = session.ReadResponse(
                    buffer + total, static_cast<std::uint32_t>(length - total));
                if (count == 0) break;
                total += static_cast<std::int32_t>(count);
            }
            buffer[total] = '\0';
            return total;
        });
    });
}

ZEM_API int32_t ZEM_CALL ZEMUrlGet3(const char* url, int32_t* status, char** outBuffer,
                                    int32_t* outLength, TransferHandle handle) {
    return GuardExport(kFamilyAFailed, [&] {
        return RunFamilyA(FetchCall(url, status, handle), [&](TransferSession& session) {
            ReportStatus(session, status, "ZEMUrlGet Result Code: %d\n");
            return HandOutReply(session, outBuffer, outLength);
        });
    });
}

}  // extern "C"
