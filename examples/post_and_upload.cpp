// post_and_upload: sends a file to a conference session of the reference file service as a
// multipart form, then posts a form that asks for it back and prints the reply.
//
//   post_and_upload URL SESSION FILE        (URL: the service, e.g. http://127.0.0.1:8080/files)
//
// C++ rather than C: the calls that send form fields take PostFields, a std::map of
// std::string. A C host sees an opaque type and can only pass null (no fields); a host that
// needs fields writes that part in C++, built with the same standard library as zemuser.
// Exit status: 0 done, 1 failed, 2 usage error, 3 the post was answered with a status other
// than 2xx.
#include <zemuser.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

struct HandleEnder {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleEnder>;

struct BufferReleaser {
    void operator()(char* buffer) const { ZEMReleaseBuffer(buffer); }
};
using HandedBuffer = std::unique_ptr<char, BufferReleaser>;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s URL SESSION FILE\n", argv[0]);
        return 2;
    }
    const std::string url = argv[1];
    const std::string session = argv[2];
    const std::string file = argv[3];

    // The file calls need a live handle; the post could do without one.
    OwnedHandle handle(ZEMTransferBegin());
    if (!handle) {
        std::fputs("post_and_upload: no transfer handle (out of memory)\n", stderr);
        return 1;
    }

    // The upload sends these fields, then file_num = 1 and the file as part file1; the service
    // stores it under the file's base name and answers "OK".
    const PostFields upload{{"x", "kivStuff"}, {"act", "upload"}, {"session_id", session}};
    if (ZEMUrlTransferFile(handle.get(), url.c_str(), &upload, file.c_str(), 1) != 1) {
        std::fprintf(stderr, "post_and_upload: %s: upload not accepted\n", file.c_str());
        return 1;
    }

    const PostFields fetch{{"act", "fetch"},
                           {"filename", std::filesystem::path(file).filename().string()},
                           {"session_id", session}};
    int32_t status = 0;
    char* raw = nullptr;
    int32_t length = 0;
    if (ZEMUrlPost3(url.c_str(), &fetch, &status, &raw, &length, handle.get()) < 0) {
        std::fprintf(stderr, "post_and_upload: %s: no answer to the post\n", url.c_str());
        return 1;
    }
    HandedBuffer reply(raw);
    if (std::fwrite(reply.get(), 1, static_cast<std::size_t>(length), stdout) !=
            static_cast<std::size_t>(length) ||
        std::fflush(stdout) != 0) {
        std::perror("post_and_upload: standard output");
        return 1;
    }
    std::fprintf(stderr, "post_and_upload: uploaded %s, post answered HTTP %d with %d bytes\n",
                 file.c_str(), static_cast<int>(status), static_cast<int>(length));
    return status >= 200 && status <= 299 ? 0 : 3;
}
