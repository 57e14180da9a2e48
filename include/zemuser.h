/*
 * zemuser: blocking HTTP and HTTPS transfers for a host application.
 *
 * Every call runs to completion on the caller's thread. Results are signed 32-bit:
 * the in-memory calls return a byte count or length and -1 on failure, the file calls
 * return 1 or 0. An HTTP status, where a call reports one, goes to an out-parameter
 * that is set to 0 on entry. A buffer that the library fills with a reply receives a
 * terminating zero after the bytes read, so it needs one byte more than its size.
 */
#ifndef ZEMUSER_H
#define ZEMUSER_H

#include <stdint.h>

#if defined(_WIN32)
#define ZEM_CALL __cdecl
#if defined(ZEMUSER_BUILDING)
#define ZEM_API __declspec(dllexport)
#else
#define ZEM_API __declspec(dllimport)
#endif
#else
#define ZEM_CALL
#define ZEM_API __attribute__((visibility("default")))
#endif

/* Wide texts (local paths and server file names of the W calls) are UTF-16 code units. */
#if defined(_WIN32)
typedef wchar_t ZEMWideChar;
#elif defined(__cplusplus)
typedef char16_t ZEMWideChar;
#else
#include <uchar.h>
typedef char16_t ZEMWideChar;
#endif

#ifdef __cplusplus
#include <map>
#include <string>
/* Form fields: name to value, sent in ascending order of name. */
typedef std::map<std::string, std::string> PostFields;
extern "C" {
#else
typedef struct PostFields PostFields;
#endif

/* Opaque; null means "no handle" (the fetch and post calls then use a session of their own). */
typedef void* TransferHandle;

/* Transfer handles and buffers. */
ZEM_API TransferHandle ZEM_CALL ZEMTransferBegin(void);
ZEM_API TransferHandle ZEM_CALL ZEMTransferBeginV2(const char* proxyUser,
                                                   const char* proxyPassword);
ZEM_API void ZEM_CALL ZEMTransferEnd(TransferHandle handle);
ZEM_API void ZEM_CALL CancelTransferFile(TransferHandle handle);
ZEM_API void ZEM_CALL ZEMReleaseBuffer(void* buffer);

/* In-memory fetch. */
ZEM_API int32_t ZEM_CALL ZEMUrlGet(const char* url, int32_t* status, char* buffer, int32_t size,
                                   TransferHandle handle);
ZEM_API int32_t ZEM_CALL ZEMUrlGet2(const char* url, int32_t* status, char* buffer, int32_t size,
                                    TransferHandle handle);
ZEM_API int32_t ZEM_CALL ZEMUrlGet3(const char* url, int32_t* status, char** outBuffer,
                                    int32_t* outLength, TransferHandle handle);

/* Form posts (sent as multipart/form-data). */
ZEM_API int32_t ZEM_CALL ZEMUrlPost(const char* url, const PostFields* fields, int32_t* status,
                                    char* buffer, int32_t bufferLength, TransferHandle handle);
ZEM_API int32_t ZEM_CALL ZEMUrlPost3(const char* url, const PostFields* fields, int32_t* status,
                                     char** buffer, int32_t* length, TransferHandle handle);

/* URL file transfers: direction 0 downloads, any other value uploads. */
ZEM_API int32_t ZEM_CALL ZEMUrlTransferFile(TransferHandle handle, const char* url,
                                            const PostFields* fields, const char* localPath,
                                            int32_t direction);
ZEM_API int32_t ZEM_CALL ZEMUrlTransferFileW(TransferHandle handle, const char* url,
                                             const PostFields* fields, const ZEMWideChar* localPath,
                                             int32_t direction);
ZEM_API int32_t ZEM_CALL ZEMNormalDownloadFile(TransferHandle handle, const char* url,
                                               const PostFields* fields, const char* localPath,
                                               char* nameOut, int32_t nameOutSize);

/* Conference-server file service: direction 0 downloads, any other value uploads. */
ZEM_API int32_t ZEM_CALL ZEMKIVTransferFile(TransferHandle handle, const char* url,
                                            const char* sessionId, const char* fileName,
                                            const char* localPath, int32_t direction);
ZEM_API int32_t ZEM_CALL ZEMKIVTransferFileW(TransferHandle handle, const char* url,
                                             const char* sessionId, const ZEMWideChar* fileName,
                                             const ZEMWideChar* localPath, int32_t direction);

/* Diagnostics. */
ZEM_API void ZEM_CALL ZEMUser_SetTraceFile(const char* path);
ZEM_API void ZEM_CALL ZEMUser_SetTraceLevel(int32_t level);
ZEM_API int32_t ZEM_CALL GetCPUUsage(int32_t* processUsage);

#ifdef __cplusplus
}
#endif

#endif /* ZEMUSER_H */
