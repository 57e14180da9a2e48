// URL file transfers: a download is a multipart POST of the host's fields whose 200 answer is
// stored in a file (named by the server when the target is a folder); an upload is a multipart
// POST of the fields and the file, accepted when the reply starts with "OK".
#include <algorithm>
#include <cstring>

#include "api/download_file_name.h"
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
constexpr std::int32_t kStatusOk = 200;

FieldAdder TextFields(const PostFields* fields) {
    return [fields](TransferSession& session) {
        if (fields == nullptr) return;
        for (const auto& [name, value] : *fields) {
            session.AddFormField(name.c_str(), value.c_str(), false);
        }
    };
}

// Where the announced name goes: the host's buffer, cut to its size, zero-padded.
struct NameOut {
    char* buffer;
    std::int32_t size;
};

struct DownloadLines {
    const char* queryResult;
    const char* result;
};

std::int32_t UrlDownload(TransferSession& session, const char* url, const PostFields* fields,
                         const LocalPath& localPath, const DownloadLines& lines,
                         const NameOut* nameOut) {
    CloseHandlesOnExit closer(session);
    TraceWrite(0, "ZEMUrlDownloadFile Begin: %s, %s\n", url != nullptr ? url : "",
               localPath.ForTrace().c_str());
    FrameOutcome outcome =
        RunTransferFrame(session, url, RequestKind::RequestMultipart, TextFields(fields));
    if (outcome == FrameOutcome::NotSplit) return kFailed;

    std::int32_t result = kFailed;
    if (outcome == FrameOutcome::Sent) {
        std::int32_t status = session.QueryStatusCode();
        TraceWrite(0, lines.queryResult, status);
        if (status == kStatusOk) {
            bool intoFolder = localPath.IsFolder();
            std::string name;
            if (intoFolder || nameOut != nullptr) name = DownloadFileName(session);
            if (nameOut != nullptr && nameOut->buffer != nullptr && nameOut->size > 0) {
                std::strncpy(nameOut->buffer, name.c_str(),
                             static_cast<std::size_t>(nameOut->size));
            }
            if (name.empty()) name = "unknown";
            LocalPath target = intoFolder ? localPath.Join(name) : localPath;
            result = target.StoreResponse(session) != 0 ? kDone : kFailed;
        }
    }
    session.CloseHandles();
    TraceWrite(0, lines.result, result);
    return result;
}

std::int32_t UrlUpload(TransferSession& session, const char* url, const PostFields* fields,
                       const LocalPath& localPath) {
    CloseHandlesOnExit closer(session);
    TraceWrite(0, "ZEMUrlUploadFile Begin: %s, %s\n", url != nullptr ? url : "",
               localPath.ForTrace().c_str());
    FieldAdder addFields = [&](TransferSession& s) {
        TextFields(fields)(s);
        s.AddFormField("file_num", 1);
        localPath.AddAsFileField(s, "file1");
    };
    FrameOutcome outcome = RunTransferFrame(session, url, RequestKind::RequestMultipart, addFields);
    if (outcome == FrameOutcome::NotSplit) return kFailed;

    std::int32_t result = kFailed;
    if (outcome == FrameOutcome::SendFailed) TraceWrite(2, "ZEMUrlUploadFile Failed\n");
    if (outcome == FrameOutcome::Sent) {
        std::string reply = ReadUploadReply(session);
        result = IsUploadAccepted(reply) ? kDone : kFailed;
        TraceWrite(0, "ZEMUrlUploadFile Result: %s\n", TraceableReply(reply).c_str());
    }
    session.CloseHandles();
    return result;
}

constexpr DownloadLines kUrlDownloadLines{"ZEMUrlDownloadFile QueryResult: %d\n",
                                          "ZEMUrlDownloadFile Result: %d\n"};
constexpr DownloadLines kNormalDownloadLines{"ZEMNormalDownloadFile QueryResult: %d\n",
                                             "ZEMNormalDownloadFile Result: %d\n"};

std::int32_t TransferFile(TransferHandle handle, const char* url, const PostFields* fields,
                          const LocalPath& localPath, std::int32_t direction) {
    SessionRef session = FindSession(handle);
    if (!session) return kFailed;
    if (direction == 0) {
        return UrlDownload(*session, url, fields, localPath, kUrlDownloadLines, nullptr);
    }
    return UrlUpload(*session, url, fields, localPath);
}

}  // namespace

extern "C" {

ZEM_API int32_t ZEM_CALL ZEMUrlTransferFile(TransferHandle handle, const char* url,
                                            const PostFields* fields, const char* localPath,
                                            int32_t direction) {
    return GuardExport(kFailed, [&] {
        if (localPath == nullptr) return kFailed;
        return TransferFile(handle, url, fields, LocalPath::Narrow(localPath), direction);
    });
}

ZEM_API int32_t ZEM_CALL ZEMUrlTransferFileW(TransferHandle handle, const char* url,
                                             const PostFields* fields, const ZEMWideChar* localPath,
                                             int32_t direction) {
    return GuardExport(kFailed, [&] {
        if (localPath == nullptr) return kFailed;
        return TransferFile(handle, url, fields, LocalPath::Wide(localPath), direction);
    });
}

ZEM_API int32_t ZEM_CALL ZEMNormalDownloadFile(TransferHandle handle, const char* url,
                                               const PostFields* fields, const char* localPath,
                                               char* nameOut, int32_t nameOutSize) {
    return GuardExport(kFailed, [&] {
        if (nameOut != nullptr && nameOutSize > 0) nameOut[0] = '\0';
        SessionRef session = FindSession(handle);
        if (!session || localPath == nullptr) return kFailed;
        NameOut out{nameOut, nameOutSize};
        return UrlDownload(*session, url, fields, LocalPath::Narrow(localPath),
                           kNormalDownloadLines, &out);
    });
}

}  // extern "C"
