// Transfers with the file service of a conference server, which knows a conference by its
// session identifier: a download is a small urlencoded form naming the file, an upload a
// multipart form carrying one local file, accepted when the reply starts with "OK".
#include "api/export_guard.h"
#include "api/local_path.h"
#include "api/session_registry.h"
#include "api/transfer_frame.h"
#include "api/upload_reply.h"
#include "diag/trace_log.h"

using namespace zemuser;

namespace {

constexpr std::int32_t kFailed = 0;
constexpr std::int32_t kDone = 1;
// The Result line shows at most this much of the reply.
constexpr std::size_t kReplyShown = 257;

// The file name on the server, as the narrow or the wide export received it.
struct ServerFileName {
    const char* narrow;
    const platform::WideChar* wide;
};

// The texts of an upload's lines, which name the narrow or the wide export.
struct UploadLines {
    const char* begin;
    const char* failed;
    const char* queryResult;
    const char* result;
};

constexpr UploadLines kNarrowUploadLines{
    "ZEMKIVUploadFile Begin: %s, %s, %s\n", "ZEMKIVUploadFile Failed.\n",
    "ZEMKIVUploadFile QueryResult: %d\n", "ZEMKIVUploadFile Result: %s\n"};
constexpr UploadLines kWideUploadLines{
    "ZEMKIVUploadFileW Begin: %s, %s, %s\n", "ZEMKIVUploadFileW Failed.\n",
    "ZEMKIVUploadFileW QueryResult: %d\n", "ZEMKIVUploadFileW Result: %s\n"};

const char* OrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

std::int32_t ConferenceDownload(TransferSession& session, const char* url, const char* sessionId,
                                const ServerFileName& fileName, const LocalPath& localPath) {
    CloseHandlesOnExit closer(session);
    FieldAdder addFields = [&](TransferSession& s) {
        s.AddFormField("x", "kivStuff", false);
        s.AddFormField("act", "download", false);
        s.AddFormField("session_id", OrEmpty(sessionId), false);
        if (fileName.wide != nullptr) {
            s.AddFormField("filename", fileName.wide, false);
        } else {
            s.AddFormField("filename", OrEmpty(fileName.narrow), false);
        }
    };
    FrameOutcome outcome = RunTransferFrame(session, url, RequestKind::RequestForm, addFields);
    if (outcome == FrameOutcome::NotSplit) return kFailed;

    std::int32_t result = kFailed;
    if (outcome == FrameOutcome::Sent) {
        TraceWrite(0, "ZEMKIVDownloadFile QueryResult: %d\n", session.QueryStatusCode());
        result = localPath.StoreResponse(session) != 0 ? kDone : kFailed;
        TraceWrite(0, "ZEMKIVDownloadFile Result: %d\n", result);
    }
    session.CloseHandles();
    return result;
}

std::int32_t ConferenceUpload(TransferSession& session, const char* url, const char* sessionId,
                              const LocalPath& localPath, const UploadLines& lines) {
    CloseHandlesOnExit closer(session);
    TraceWrite(0, lines.begin, OrEmpty(url), OrEmpty(sessionId), localPath.ForTrace().c_str());
    FieldAdder addFields = [&](TransferSession& s) {
        s.AddFormField("x", "kivStuff", false);
        s.AddFormField("act", "upload", false);
        s.AddFormField("session_id", OrEmpty(sessionId), false);
        s.AddFormField("file_num", 1);
        localPath.AddAsFileField(s, "file1");
    };
    FrameOutcome outcome = RunTransferFrame(session, url, RequestKind::RequestMultipart, addFields);
    if (outcome == FrameOutcome::NotSplit) return kFailed;

    std::int32_t result = kFailed;
    if (outcome == FrameOutcome::SendFailed) TraceWrite(0, "%s", lines.failed);
    if (outcome == FrameOutcome::Sent) {
        TraceWrite(0, lines.queryResult, session.QueryStatusCode());
        std::string reply = ReadUploadReply(session);
        result = IsUploadAccepted(reply) ? kDone : kFailed;
        if (reply.size() > kReplyShown) reply.resize(kReplyShown);
        TraceWrite(0, lines.result, TraceableReply(reply).c_str());
    }
    session.CloseHandles();
    return result;
}

}  // namespace

extern "C" {

ZEM_API int32_t ZEM_CALL ZEMKIVTransferFile(TransferHandle handle, const char* url,
                                            const char* sessionId, const char* fileName,
                                            const char* localPath, int32_t direction) {
    return GuardExport(kFailed, [&] {
        SessionRef session = FindSession(handle);
        if (!session || localPath == nullptr) return kFailed;
        LocalPath path = LocalPath::Narrow(localPath);
        if (direction != 0) {
            return ConferenceUpload(*session, url, sessionId, path, kNarrowUploadLines);
        }
        TraceWrite(0, "ZEMKIVDownloadFile Begin: %s, %s, %s, %s\n", OrEmpty(url),
                   OrEmpty(sessionId), OrEmpty(fileName), localPath);
        return ConferenceDownload(*session, url, sessionId, ServerFileName{fileName, nullptr},
                                  path);
    });
}

ZEM_API int32_t ZEM_CALL ZEMKIVTransferFileW(TransferHandle handle, const char* url,
                                             const char* sessionId, const ZEMWideChar* fileName,
                                             const ZEMWideChar* localPath, int32_t direction) {
    return GuardExport(kFailed, [&] {
        SessionRef session = FindSession(handle);
        if (!session || localPath == nullptr) return kFailed;
        LocalPath path = LocalPath::Wide(localPath);
        if (direction != 0) {
            return ConferenceUpload(*session, url, sessionId, path, kWideUploadLines);
        }
        static const platform::WideChar kEmpty[] = {0};
        return ConferenceDownload(*session, url, sessionId,
                                  ServerFileName{nullptr, fileName != nullptr ? fileName : kEmpty},
                                  path);
    });
}

}  // extern "C"
