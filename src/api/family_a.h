// The frame of the fetch and post calls: they run on the session of the handle, or on a session
// of the call's own when the handle is null, and close the session's handles before returning.
#pragma once

#include <cstdint>

#include "api/session_registry.h"
#include "api/transfer_frame.h"
#include "diag/trace_log.h"

namespace zemuser {

constexpr std::int32_t kFamilyAFailed = -1;

struct FamilyACall {
    const char* url;
    std::int32_t* status;
    TransferHandle handle;
    RequestKind kind;
    FieldAdder addFields;
    const char* resultLine;  // written with the result after the handles are closed; or null
};

// `read` takes the answered session and yields the call's result. An ended or unknown handle
// fails like an invalid argument, before anything is sent.
template <typename Read>
std::int32_t RunFamilyA(const FamilyACall& call, Read&& read) {
    if (call.status != nullptr) *call.status = 0;
    TransferSession temporary;
    SessionRef given = FindSession(call.handle);
    if (call.handle != nullptr && !given) return kFamilyAFailed;
    TransferSession& session = given ? *given : temporary;
    CloseHandlesOnExit closer(session);

    FrameOutcome outcome = RunTransferFrame(session, call.url, call.kind, call.addFields);
    if (outcome == FrameOutcome::NotSplit) return kFamilyAFailed;
    std::int32_t result = outcome == FrameOutcome::Sent ? read(session) : kFamilyAFailed;
    session.CloseHandles();
    if (call.resultLine != nullptr) TraceWrite(0, call.resultLine, result);
    return result;
}

// Queries the status, hands it to the host and traces it with `line`.
inline std::int32_t ReportStatus(TransferSession& session, std::int32_t* status, const char* line) {
    std::int32_t code = session.QueryStatusCode();
    if (status != nullptr) *status = code;
    TraceWrite(0, line, code);
    return code;
}

}  // namespace zemuser
