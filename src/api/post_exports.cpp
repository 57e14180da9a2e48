// Form posts: the host's fields go out as a multipart form, one text part per field in
// ascending order of name; the reply goes into the host's buffer or a new buffer.
#include "api/export_guard.h"
#include "api/family_a.h"
#include "api/reply_buffer.h"

using namespace zemuser;

namespace {

FamilyACall PostCall(const char* url, const PostFields* fields, std::int32_t* status,
                     TransferHandle handle) {
    FieldAdder addFields = [fields](TransferSession& session) {
        if (fields == nullptr) return;
        for (const auto& [name, value] : *fields) {
            session.AddFormField(name.c_str(), value.c_str(), false);
        }
    };
    return FamilyACall{
        url, status, handle, RequestKind::RequestMultipart, addFields, "ZEMUrlPost Result: %d\n"};
}

}  // namespace

extern "C" {

ZEM_API int32_t ZEM_CALL ZEMUrlPost(const char* url, const PostFields* fields, int32_t* status,
                                    char* buffer, int32_t bufferLength, TransferHandle handle) {
    return GuardExport(kFamilyAFailed, [&] {
        TraceWrite(0, "ZEMUrlPost Begin: %s\n", url != nullptr ? url : "");
        return RunFamilyA(PostCall(url, fields, status, handle), [&](TransferSession& session) {
            ReportStatus(session, status, "ZEMUrlPost Result Code: %d\n");
            if (buffer == nullptr || bufferLength <= 0) return session.QueryContentLength();
            std::uint32_t count =
                session.ReadResponse(buffer, static_cast<std::uint32_t>(bufferLength));
            buffer[count] = '\0';
            return static_cast<std::int32_t>(count);
        });
    });
}

ZEM_API int32_t ZEM_CALL ZEMUrlPost3(const char* url, const PostFields* fields, int32_t* status,
                                     char** buffer, int32_t* length, TransferHandle handle) {
    return GuardExport(kFamilyAFailed, [&] {
        TraceWrite(0, "ZEMUrlPost Begin: %s\n", url != nullptr ? url : "");
        return RunFamilyA(PostCall(url, fields, status, handle), [&](TransferSession& session) {
            ReportStatus(session, status, "ZEMUrlPost Result Code: %d\n");
            return HandOutReply(session, buffer, length);
        });
    });
}

}  // extern "C"
