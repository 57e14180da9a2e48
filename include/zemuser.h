/**
 * @file zemuser.h
 * @brief zemuser: blocking HTTP and HTTPS transfers for a host application.
 *
 * Conventions shared by every call (each call's own comment adds only what differs):
 *
 * - **Blocking.** A call runs to completion on the caller's thread; the library starts no
 *   threads and installs no signal handlers. A connection that takes longer than 60 s, or a
 *   transfer that receives nothing for 60 s, fails (`ZEMUSER_CONNECT_TIMEOUT_MS` and
 *   `ZEMUSER_RECEIVE_TIMEOUT_MS` change these, in milliseconds).
 * - **Results.** The in-memory calls (`ZEMUrlGet*`, `ZEMUrlPost*`) return a byte count or a
 *   length, and -1 on failure; the file calls return 1 on success and 0 on failure. Nothing is
 *   thrown at the host.
 * - **Status.** Where a call reports the HTTP status, its `status` out-parameter is set to 0 on
 *   entry and to the status once the server has answered (404 if the status line could not be
 *   read). An error status (404, 500) is no failure of an in-memory call: the error page is
 *   returned like any body. A null `status` is allowed and is not written.
 * - **URLs.** Narrow NUL-terminated text, `http://` or `https://` only. A null URL, one that
 *   does not parse, or another scheme makes the call fail at once: nothing is sent.
 *   HTTP/1.0 is spoken, asking the server to keep the connection. A plain connection straight
 *   to a server that keeps it, its answer read whole, serves the same thread's next fetch
 *   (`ZEMUrlGet*`) from that server; HTTPS and proxied connections serve one call, and calls
 *   that send a body connect anew (on Windows the system's internet layer decides).
 * - **Buffers.** A buffer the library fills with a reply receives a terminating zero after the
 *   bytes read, so it needs one byte more than the size the host announces. Buffers the
 *   library hands out (`ZEMUrlGet3`, `ZEMUrlPost3`) go back through ZEMReleaseBuffer().
 * - **Handles.** The fetch and post calls accept a null handle and then use a session of their
 *   own. The file calls need a live handle. An ended or unknown handle, and a null one in a
 *   file call, fails at once (-1 or 0) with nothing sent.
 * - **Threads.** Calls on different handles, and calls with a null handle, may run at the same
 *   time on different threads. One handle carries one transfer at a time: the host must not
 *   run two transfers on one handle at once. While a transfer runs, the only calls another
 *   thread may make on its handle are CancelTransferFile() and, once the transfer has
 *   returned, ZEMTransferEnd().
 * - **Trace.** With a trace file open (ZEMUser_SetTraceFile()), calls write plain-text lines,
 *   level 0 for progress and results and level 2 for failures; each call's comment lists its
 *   own lines. Failure reports (level 2) are a `"[ URL ] reason"` line and the system's text;
 *   they also go to the debugger output (on Linux the file named by `ZEMUSER_DEBUG_OUTPUT`,
 *   `-` for standard error). A line holds at most 2047 characters and is cut beyond. Lines of
 *   concurrent calls never mix.
 * - **HTTPS.** Certificates are checked against the system's CA store (or `SSL_CERT_FILE`,
 *   `SSL_CERT_DIR`), but host names and dates are not, and a certificate from an unknown
 *   authority is accepted after one failed attempt: HTTPS here protects against passive
 *   eavesdropping only.
 * - **Proxies** come from `http_proxy`, `https_proxy`, `all_proxy` and `no_proxy` (an
 *   upper-case `HTTP_PROXY` is ignored).
 * - **Settings.** While any session lives, the user's two HTTP/1.1 settings are held at 0 and
 *   restored afterwards: the Internet Settings registry key on Windows; on Linux files below
 *   `$ZEMUSER_SETTINGS_DIR`, else `$XDG_CONFIG_HOME/zemuser` or `~/.config/zemuser`.
 * - **Form bodies** (`multipart/form-data`, sent by the post, URL file and conference upload
 *   calls) are built whole in memory before they are sent, a file's content included. A value
 *   or a file that contains the form's fixed boundary line makes the call fail with nothing
 *   sent. Quotes, CR and LF in field names and file names are sent as `%22`, `%0D`, `%0A`.
 * - **Downloads** are stored in a new temporary file in the target's folder, which replaces
 *   the target only when the whole body has arrived: a failed or cancelled download leaves an
 *   existing target exactly as it was, a successful one replaces it.
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
/** The calling convention of every export: `__cdecl` on Windows, the platform's C convention
 *  elsewhere. */
#define ZEM_CALL
/** Marks an export of the shared library. */
#define ZEM_API __attribute__((visibility("default")))
#endif

/* Wide texts (local paths and server file names of the W calls) are UTF-16 code units. */
#if defined(_WIN32)
typedef wchar_t ZEMWideChar;
#elif defined(__cplusplus)
/** A UTF-16 code unit; `wchar_t` on Windows. On Linux wide paths become UTF-8 for the file
 *  system and the trace. */
typedef char16_t ZEMWideChar;
#else
#include <uchar.h>
typedef char16_t ZEMWideChar;
#endif

#ifdef __cplusplus
#include <map>
#include <string>
/**
 * Form fields: name to value, both narrow texts, sent as text parts in ascending byte order of
 * name. Calls only read the map; a null pointer counts as an empty map. A C++ host must use the
 * same standard library as the library was built with. C hosts see an opaque struct and can
 * only pass null (no fields).
 */
typedef std::map<std::string, std::string> PostFields;
extern "C" {
#else
/* C hosts see PostFields as an opaque struct and can only pass null (no fields). */
typedef struct PostFields PostFields;
#endif

/**
 * A transfer handle: opaque, owned by the host from ZEMTransferBegin() or ZEMTransferBeginV2()
 * until ZEMTransferEnd(). Null means "no handle" (the fetch and post calls then use a session
 * of their own).
 */
typedef void* TransferHandle;

/** @name Transfer handles and buffers */
/** @{ */

/**
 * Creates a transfer handle, so that a transfer can be cancelled from another thread.
 *
 * A handle serves any number of transfers, one after another; each connects anew. Any thread.
 * @return A new handle, or null when memory ran out.
 */
ZEM_API TransferHandle ZEM_CALL ZEMTransferBegin(void);

/**
 * Creates a transfer handle that carries proxy credentials.
 *
 * The credentials go only to a proxy that asks for them (407), in a scheme it offered, never to
 * a server, and never into the trace. Over a plain-HTTP proxy they travel as that scheme sends
 * them. Any thread.
 * @param proxyUser     Proxy user name; null counts as empty.
 * @param proxyPassword Proxy password; null counts as empty.
 * @return A new handle, or null when memory ran out (nothing is kept then).
 */
ZEM_API TransferHandle ZEM_CALL ZEMTransferBeginV2(const char* proxyUser,
                                                   const char* proxyPassword);

/**
 * Ends a handle and frees its session; the handle is invalid afterwards.
 *
 * Call it only when no transfer runs on the handle: to stop a running one, call
 * CancelTransferFile() and wait for the transfer call to return. A later call with the ended
 * handle fails without sending anything.
 * @param handle A handle, or null (ignored). An ended or unknown handle is ignored.
 */
ZEM_API void ZEM_CALL ZEMTransferEnd(TransferHandle handle);

/**
 * Cancels the transfer running on a handle; meant to be called from another thread.
 *
 * The running call stops within moments through its ordinary failure path: a request still
 * being sent fails (-1 or 0), a call reading a reply into memory returns what it had read, a
 * download returns 0 and leaves an existing target as it was, an upload returns 0.
 * The cancel is not remembered: on an idle handle it does nothing, and the next transfer runs
 * normally. The handle stays usable and must still be ended with ZEMTransferEnd().
 * @param handle A handle, or null (ignored). An ended or unknown handle is ignored.
 */
ZEM_API void ZEM_CALL CancelTransferFile(TransferHandle handle);

/**
 * Frees a buffer that `ZEMUrlGet3` or `ZEMUrlPost3` handed out. Any thread.
 * @param buffer That buffer, or null (ignored). Nothing else may be passed.
 */
ZEM_API void ZEM_CALL ZEMReleaseBuffer(void* buffer);

/** @} */
/** @name In-memory fetch: a GET whose body comes back in memory */
/** @{ */

/**
 * Fetches a URL with one read of the body into the host's buffer.
 *
 * With a buffer, the result is what one read delivers, at most `size` bytes (possibly fewer
 * than the body has; the rest is discarded), followed by a zero. Without one, the body is not
 * read. Traces `"ZEMUrlGet Result Code: %d"` with the status once answered.
 * @param url    URL to fetch.
 * @param status Out: the HTTP status (see the file notes); may be null.
 * @param buffer Host buffer of `size` + 1 bytes, or null to ask for the content length only.
 * @param size   Most body bytes to read; 0 or less means "no buffer".
 * @param handle A live handle, or null for a session of the call's own.
 * @return The bytes read (0 if the read failed or was cancelled); without a buffer the
 *         announced Content-Length (0 when missing, 2^31-1 when larger); -1 when the URL was
 *         refused or no answer came.
 */
ZEM_API int32_t ZEM_CALL ZEMUrlGet(const char* url, int32_t* status, char* buffer, int32_t size,
                                   TransferHandle handle);

/**
 * Fetches a URL's whole body into the host's buffer, checked against the announced length.
 *
 * With a buffer: if `size` is less than the Content-Length, nothing is read, the buffer is left
 * untouched and the result is minus that length (allocate length + 1 bytes and call again).
 * Otherwise the body is read up to the announced length and a zero follows it. A reply without
 * Content-Length counts as length 0: nothing is read and the buffer holds an empty text.
 * Traces `"ZEMUrlGet2 Result Code: %d"` with the status once answered.
 * @param url    URL to fetch.
 * @param status Out: the HTTP status (see the file notes); may be null.
 * @param buffer Host buffer of `size` + 1 bytes, or null to ask for the content length only.
 * @param size   Room for body bytes; 0 or less means "no buffer".
 * @param handle A live handle, or null for a session of the call's own.
 * @return The bytes read (fewer than announced when the body ended early, a read failed or
 *         the transfer was cancelled); minus the Content-Length when the buffer is too small;
 *         without a buffer the Content-Length (0 when missing, 2^31-1 when larger); -1 when
 *         the URL was refused or no answer came.
 */
ZEM_API int32_t ZEM_CALL ZEMUrlGet2(const char* url, int32_t* status, char* buffer, int32_t size,
                                    TransferHandle handle);

/**
 * Fetches a URL's whole body into a new buffer that the library allocates.
 *
 * The body is kept byte for byte, zero bytes included, and followed by a terminating zero. It
 * may take at most 2^31-1 bytes, fewer when the environment variable `ZEMUSER_MAX_REPLY_BYTES`
 * says so; a longer body makes the call fail (-1, the status kept). Traces
 * `"ZEMUrlGet Result Code: %d"` with the status once answered.
 * @param url       URL to fetch.
 * @param status    Out: the HTTP status (see the file notes); may be null.
 * @param outBuffer Out: a new buffer of length + 1 bytes (an empty body gives one zero byte),
 *                  to free with ZEMReleaseBuffer(); null to learn only the length. Written
 *                  only on success.
 * @param outLength Out: the body's length; may be null. Written only on success.
 * @param handle    A live handle, or null for a session of the call's own.
 * @return The body's length (what arrived before a failed read or a cancel); -1 when the URL
 *         was refused, no answer came, the body was too long or memory ran out.
 */
ZEM_API int32_t ZEM_CALL ZEMUrlGet3(const char* url, int32_t* status, char** outBuffer,
                                    int32_t* outLength, TransferHandle handle);

/** @} */
/** @name Form posts: the fields as a multipart/form-data POST, the reply in memory */
/** @{ */

/**
 * Posts form fields and reads the reply into the host's buffer with one read.
 *
 * With a buffer, the result is what one read delivers, at most `bufferLength` bytes, followed
 * by a zero. Without one, the reply is not read. Traces `"ZEMUrlPost Begin: %s"` with the URL,
 * `"ZEMUrlPost Result Code: %d"` once answered and `"ZEMUrlPost Result: %d"` with the result
 * (not when the URL was refused).
 * @param url          URL to post to.
 * @param fields       Fields to send, or null for none (the body is then the closing
 *                     boundary alone).
 * @param status       Out: the HTTP status (see the file notes); may be null.
 * @param buffer       Host buffer of `bufferLength` + 1 bytes, or null.
 * @param bufferLength Most reply bytes to read; 0 or less means "no buffer".
 * @param handle       A live handle, or null for a session of the call's own.
 * @return The bytes read (0 if the read failed or was cancelled); without a buffer the
 *         announced Content-Length (0 when missing, 2^31-1 when larger); -1 when the URL was
 *         refused, the form could not be built or no answer came.
 */
ZEM_API int32_t ZEM_CALL ZEMUrlPost(const char* url, const PostFields* fields, int32_t* status,
                                    char* buffer, int32_t bufferLength, TransferHandle handle);

/**
 * Posts form fields and hands out the whole reply in a new buffer.
 *
 * The reply is kept byte for byte and followed by a terminating zero; it may take at most
 * 2^31-1 bytes, fewer when `ZEMUSER_MAX_REPLY_BYTES` says so (a longer reply: -1, the status
 * kept). Traces the same lines as ZEMUrlPost().
 * @param url    URL to post to.
 * @param fields Fields to send, or null for none.
 * @param status Out: the HTTP status (see the file notes); may be null.
 * @param buffer Out: a new buffer of length + 1 bytes, to free with ZEMReleaseBuffer(); null
 *               to learn only the length. Written only on success.
 * @param length Out: the reply's length; may be null. Written only on success.
 * @param handle A live handle, or null for a session of the call's own.
 * @return The reply's length (what arrived before a failed read or a cancel); -1 when the URL
 *         was refused, the form could not be built, no answer came, the reply was too long or
 *         memory ran out.
 */
ZEM_API int32_t ZEM_CALL ZEMUrlPost3(const char* url, const PostFields* fields, int32_t* status,
                                     char** buffer, int32_t* length, TransferHandle handle);

/** @} */
/** @name URL file transfers: a reply into a file, or a file as a multipart form */
/** @{ */

/**
 * Downloads a URL's reply into a file or folder, or uploads a local file to it.
 *
 * **Download** (direction 0): a multipart POST of `fields`; only a 200 answer with a non-empty
 * body is stored. When `localPath` is an existing folder, the file is named by the reply's
 * Content-Disposition, reduced to a plain file name (no folders, no control characters, no
 * leading dots; on Windows also no `: < > | ? *`, no quotes and no device names), or
 * "unknown" when nothing usable is left. Traces
 * `"ZEMUrlDownloadFile Begin: %s, %s"` (URL, path), `"ZEMUrlDownloadFile QueryResult: %d"`
 * once answered and `"ZEMUrlDownloadFile Result: %d"` (not when the URL was refused).
 *
 * **Upload** (any other direction): a multipart POST of `fields`, then `file_num` = 1, then the
 * file as part `file1` whose file name is `localPath` as given (a file that cannot be read is
 * sent without content). Success is a reply that starts with `"OK"` or `"\r\nOK"`, whatever the
 * status; one read of at most 1024 bytes is looked at. Traces
 * `"ZEMUrlUploadFile Begin: %s, %s"` and `"ZEMUrlUploadFile Result: %s"` with the reply, or
 * `"ZEMUrlUploadFile Failed"` (level 2) when no answer came.
 * @param handle    A live handle (null fails).
 * @param url       URL to post to.
 * @param fields    Fields to send, or null for none.
 * @param localPath File or existing folder to download into, or file to upload; null fails.
 * @param direction 0 downloads, any other value uploads.
 * @retval 1 The body was stored, or the upload's reply accepted it.
 * @retval 0 Anything else: refused URL or handle, no answer, another status than 200 or an
 *           empty body (download), a file that could not be written, a reply without "OK"
 *           (upload), a cancel.
 */
ZEM_API int32_t ZEM_CALL ZEMUrlTransferFile(TransferHandle handle, const char* url,
                                            const PostFields* fields, const char* localPath,
                                            int32_t direction);

/**
 * ZEMUrlTransferFile() with a wide local path; the URL stays narrow.
 *
 * An announced name is added to a wide folder path from the platform's narrow code page
 * (UTF-8 on Linux). The trace lines are those of ZEMUrlTransferFile(), with the path as narrow
 * text.
 * @param handle    A live handle (null fails).
 * @param url       URL to post to.
 * @param fields    Fields to send, or null for none.
 * @param localPath UTF-16 path of the file or folder to download into, or the file to upload;
 *                  null fails.
 * @param direction 0 downloads, any other value uploads.
 * @retval 1 The body was stored, or the upload's reply accepted it.
 * @retval 0 Anything else, as for ZEMUrlTransferFile().
 */
ZEM_API int32_t ZEM_CALL ZEMUrlTransferFileW(TransferHandle handle, const char* url,
                                             const PostFields* fields, const ZEMWideChar* localPath,
                                             int32_t direction);

/**
 * Downloads like ZEMUrlTransferFile() (direction 0) and hands out the announced file name.
 *
 * After a 200 answer `nameOut` receives the announced name, reduced as for a folder target
 * (empty when none or nothing usable was announced, while a folder target then gets the file
 * "unknown"), cut to `nameOutSize` bytes, zero-padded when shorter, and with **no terminating
 * zero when the name fills the buffer**: pass one byte less than the buffer holds to be sure
 * of one. Traces `"ZEMUrlDownloadFile Begin: %s, %s"`,
 * `"ZEMNormalDownloadFile QueryResult: %d"` and `"ZEMNormalDownloadFile Result: %d"`.
 * @param handle      A live handle (null fails).
 * @param url         URL to post to.
 * @param fields      Fields to send, or null for none.
 * @param localPath   File or existing folder to download into; null fails.
 * @param nameOut     Out: the announced name (see above); its first byte is set to zero on
 *                    entry. May be null.
 * @param nameOutSize Size of `nameOut` in bytes; 0 or less leaves it unwritten.
 * @retval 1 The body was stored.
 * @retval 0 Anything else, as for a ZEMUrlTransferFile() download.
 */
ZEM_API int32_t ZEM_CALL ZEMNormalDownloadFile(TransferHandle handle, const char* url,
                                               const PostFields* fields, const char* localPath,
                                               char* nameOut, int32_t nameOutSize);

/** @} */
/** @name Conference-server file service: files by session identifier */
/** @{ */

/**
 * Fetches a file from, or sends a file to, a conference server's file service.
 *
 * **Download** (direction 0): a urlencoded POST of `x=kivStuff`, `act=download`, `session_id`
 * and `filename`, values sent unescaped; any non-empty reply body is stored in `localPath`,
 * whatever the status (an error page too). Traces
 * `"ZEMKIVDownloadFile Begin: %s, %s, %s, %s"` (URL, session, file name, path), then, once
 * answered, `"ZEMKIVDownloadFile QueryResult: %d"` and `"ZEMKIVDownloadFile Result: %d"`.
 *
 * **Upload** (any other direction): a multipart POST of `x=kivStuff`, `act=upload`,
 * `session_id`, `file_num` = 1 and the file as part `file1`; `fileName` is not used. Success is
 * a reply that starts with `"OK"` or `"\r\nOK"`. Traces `"ZEMKIVUploadFile Begin: %s, %s, %s"`,
 * then `"ZEMKIVUploadFile QueryResult: %d"` and `"ZEMKIVUploadFile Result: %s"` (the reply's
 * first 257 characters), or `"ZEMKIVUploadFile Failed."` when no answer came; all at level 0.
 * @param handle    A live handle (null fails).
 * @param url       URL of the file service.
 * @param sessionId The conference's session identifier; null counts as empty.
 * @param fileName  The file's name on the server (download only); null counts as empty.
 * @param localPath File to create or replace (download) or to send (upload); null fails.
 * @param direction 0 downloads, any other value uploads.
 * @retval 1 A non-empty body was stored, or the upload's reply accepted it.
 * @retval 0 Anything else: refused URL or handle, no answer, an empty body, a file that could
 *           not be written, a reply without "OK", a cancel.
 */
ZEM_API int32_t ZEM_CALL ZEMKIVTransferFile(TransferHandle handle, const char* url,
                                            const char* sessionId, const char* fileName,
                                            const char* localPath, int32_t direction);

/**
 * ZEMKIVTransferFile() with a wide server file name and local path; URL and session
 * identifier stay narrow.
 *
 * The file name is sent as UTF-8. The download writes no Begin line and the narrow call's
 * other two lines; the upload's lines name `ZEMKIVUploadFileW` instead of `ZEMKIVUploadFile`.
 * @param handle    A live handle (null fails).
 * @param url       URL of the file service.
 * @param sessionId The conference's session identifier; null counts as empty.
 * @param fileName  UTF-16 name of the file on the server (download only); null counts as
 *                  empty.
 * @param localPath UTF-16 path of the file to create or replace, or to send; null fails.
 * @param direction 0 downloads, any other value uploads.
 * @retval 1 A non-empty body was stored, or the upload's reply accepted it.
 * @retval 0 Anything else, as for ZEMKIVTransferFile().
 */
ZEM_API int32_t ZEM_CALL ZEMKIVTransferFileW(TransferHandle handle, const char* url,
                                             const char* sessionId, const ZEMWideChar* fileName,
                                             const ZEMWideChar* localPath, int32_t direction);

/** @} */
/** @name Diagnostics: the trace file and CPU usage */
/** @{ */

/**
 * Closes the current trace file, if any, and starts a new, empty one.
 *
 * One trace file serves the whole process. It may be switched while transfers run on other
 * threads: each line lands whole in the old file or the new one. The file receives URLs with
 * their query strings, local paths and server replies (never proxy passwords) and is created
 * with the process's default permissions: keep it private.
 * @param path File to create or truncate; null, or a path that cannot be opened, turns
 *             tracing off.
 */
ZEM_API void ZEM_CALL ZEMUser_SetTraceFile(const char* path);

/**
 * Sets the trace threshold: a line is written when its level is at least `level`.
 *
 * Lines have level 0 (progress, results) or 2 (failures), so 0 or less (the default) writes
 * all, 1 or 2 only failures, 3 or more nothing. Any thread, any time.
 * @param level The threshold; any value.
 */
ZEM_API void ZEM_CALL ZEMUser_SetTraceLevel(int32_t level);

/**
 * Polls the machine's and this process's CPU usage, in percent.
 *
 * Both are averages of the last five samples; a sample is taken when more than 200 ms have
 * passed since the last one, else the last answer is repeated. The first call, and the first
 * sample after it, give 0 and 0. Any thread; nothing is traced.
 * @param processUsage Out: this process's share of all processors, 0 to 100; may be null.
 * @return The whole machine's usage, 0 to 100.
 */
ZEM_API int32_t ZEM_CALL GetCPUUsage(int32_t* processUsage);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* ZEMUSER_H */
