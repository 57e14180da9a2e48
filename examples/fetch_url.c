/* fetch_url: fetches a URL into memory and prints the body on standard output.
 *
 *   fetch_url URL [TRACE_FILE]
 *
 * The status and the length go to standard error; with TRACE_FILE the library's trace lines
 * go there. Exit status: 0 for a 2xx answer, 3 for another status, 1 when no answer came,
 * 2 for a usage error. */
#include <stdio.h>
#include <zemuser.h>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: %s URL [TRACE_FILE]\n", argv[0]);
        return 2;
    }
    const char* url = argv[1];
    if (argc == 3) ZEMUser_SetTraceFile(argv[2]);

    int32_t status = 0;
    char* body = NULL;
    int32_t length = 0;
    /* No handle: the call makes a session of its own. The library allocates the body's buffer
     * (length + 1 bytes, zero-terminated); it goes back through ZEMReleaseBuffer. */
    if (ZEMUrlGet3(url, &status, &body, &length, NULL) < 0) {
        fprintf(stderr, "fetch_url: %s: no answer (see the trace for the reason)\n", url);
        ZEMUser_SetTraceFile(NULL);
        return 1;
    }
    /* A body may hold zero bytes: write `length` bytes rather than a string. */
    size_t written = fwrite(body, 1, (size_t)length, stdout);
    ZEMReleaseBuffer(body);
    ZEMUser_SetTraceFile(NULL); /* closes the trace file */
    if (written != (size_t)length || fflush(stdout) != 0) {
        perror("fetch_url: standard output");
        return 1;
    }
    fprintf(stderr, "fetch_url: HTTP %d, %d bytes\n", (int)status, (int)length);
    return status >= 200 && status <= 299 ? 0 : 3;
}
