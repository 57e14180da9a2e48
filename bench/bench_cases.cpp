#include "bench_cases.h"

#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "curl_reference.h"
#include "file_io.h"
#include "library_calls.h"
#include "multipart_block.h"

extern char** environ;

namespace bench {
namespace {

constexpr int kFetchThreads = 4;
constexpr std::int32_t kUpload = 1;
constexpr std::int32_t kDownload = 0;

// `fetch(buffer)` is one fetch of the small body into a buffer of its size + 1.
using SmallFetch = std::function<bool(std::vector<char>& buffer)>;

bool FetchMany(const SmallFetch& fetch, std::size_t bodySize, int count) {
    std::vector<char> buffer(bodySize + 1);
    for (int i = 0; i < count; ++i) {
        if (!fetch(buffer)) return false;
    }
    return true;
}

// The same number of fetches, shared out among threads that run at the same time.
bool FetchManyInThreads(const SmallFetch& fetch, std::size_t bodySize, int count) {
    std::atomic<bool> allGood{true};
    std::vector<std::thread> threads;
    for (int t = 0; t < kFetchThreads; ++t) {
        threads.emplace_back([&] {
            if (!FetchMany(fetch, bodySize, count / kFetchThreads)) allGood = false;
        });
    }
    for (std::thread& thread : threads) thread.join();
    return allGood;
}

void AddSmallFetchCases(const Config& config, std::vector<BenchCase>& cases) {
    const std::string url = config.Url(config.small);
    const std::size_t size = config.small.size;
    const int count = config.smallFetches;
    const SmallFetch library = [url, size](std::vector<char>& buffer) {
        return LibraryGet2(url, buffer.data(), static_cast<std::int32_t>(size)) ==
               static_cast<std::int64_t>(size);
    };
    const SmallFetch libcurl = [url, size](std::vector<char>& buffer) {
        return CurlGetIntoBuffer(url, buffer.data(), size) == static_cast<std::int64_t>(size);
    };
    const SmallFetch libcurlKeptHandle = [url, size](std::vector<char>& buffer) {
        return CurlGetIntoBuffer(url, buffer.data(), size, true) == static_cast<std::int64_t>(size);
    };
    const auto sequential = [size, count](SmallFetch fetch) {
        return [size, count, fetch] {
            return CaseRun{[=] { return FetchMany(fetch, size, count); }, {}};
        };
    };
    const auto threaded = [size, count](SmallFetch fetch) {
        return [size, count, fetch] {
            return CaseRun{[=] { return FetchManyInThreads(fetch, size, count); }, {}};
        };
    };
    const std::uint64_t bytes = 0, requests = static_cast<std::uint64_t>(count);
    cases.push_back({"fetch_1k/library_get2", bytes, requests, false, sequential(library)});
    cases.push_back({"fetch_1k/libcurl", bytes, requests, false, sequential(libcurl)});
    // libcurl keeping its connection from one request to the next, as the library does.
    cases.push_back(
        {"fetch_1k/libcurl_kept_handle", bytes, requests, false, sequential(libcurlKeptHandle)});
    // The same calls while the host holds a handle: the library's count of live sessions then
    // never drops to zero between calls, so the per-call save and restore of the HTTP/1.1
    // settings drops out. Shows what that costs.
    cases.push_back({"fetch_1k/library_get2_handle_held", bytes, requests, false, [=] {
                         auto held = std::make_shared<LibraryHandle>();
                         return CaseRun{[=] {
                                            static_cast<void>(held);
                                            return FetchMany(library, size, count);
                                        },
                                        {}};
                     }});
    cases.push_back({"fetch_1k_4threads/library_get2", bytes, requests, false, threaded(library)});
    cases.push_back({"fetch_1k_4threads/libcurl", bytes, requests, false, threaded(libcurl)});
}

void AddLargeFetchCases(const Config& config, std::vector<BenchCase>& cases) {
    const std::string url = config.Url(config.medium);
    const std::uint64_t size = config.medium.size;
    const auto expected = static_cast<std::int64_t>(size);
    cases.push_back({"fetch_64m/library_get2", size, 0, false, [url, size, expected] {
                         // The host allocates its buffer of the content length once.
                         auto buffer = std::make_shared<std::vector<char>>(size + 1);
                         return CaseRun{[=] {
                                            return LibraryGet2(url, buffer->data(),
                                                               static_cast<std::int32_t>(size)) ==
                                                   expected;
                                        },
                                        {}};
                     }});
    cases.push_back(
        {"fetch_64m/libcurl_realloc", size, 0, false, [url, expected] {
             return CaseRun{[=] { return CurlGetIntoReallocBlock(url) == expected; }, {}};
         }});
    cases.push_back({"fetch_64m/library_get3", size, 0, false, [url, expected] {
                         return CaseRun{[=] { return LibraryGet3(url) == expected; }, {}};
                     }});
    cases.push_back({"fetch_64m/libcurl_string", size, 0, false, [url, expected] {
                         return CaseRun{[=] { return CurlGetIntoString(url) == expected; }, {}};
                     }});
}

bool RepliedOk(const std::string& reply) {
    return reply.compare(0, 2, "OK") == 0;
}

void AddUploadCases(const Config& config, std::vector<BenchCase>& cases) {
    const std::string url = config.UploadUrl();
    const std::string file = config.DataPath(config.medium);
    const std::uint64_t size = config.medium.size;
    cases.push_back(
        {"upload_64m/library_transfer_file", size, 0, false, [url, file] {
             auto handle = std::make_shared<LibraryHandle>();
             return CaseRun{[=] { return LibraryTransferFile(*handle, url, file, kUpload); }, {}};
         }});
    cases.push_back({"upload_64m/libcurl_heap_block", size, 0, false, [url, file] {
                         return CaseRun{
                             [=] {
                                 // Read anew every run, as the library does.
                                 const MultipartBlock body(file);
                                 return !body.empty() &&
                                        RepliedOk(CurlPostBlock(url, body.data(), body.size(),
                                                                MultipartBlock::ContentType()));
                             },
                             {}};
                     }});
    cases.push_back(
        {"upload_64m/libcurl_mime_from_disk", size, 0, false, [url, file] {
             return CaseRun{[=] { return RepliedOk(CurlPostMimeFromDisk(url, file)); }, {}};
         }});
}

// curl -o, posting to the URL as the library's download does.
bool CurlToolDownload(const std::string& url, const std::string& target) {
    std::vector<std::string> arguments = {"curl", "-fsS", "--http1.0",     "--noproxy", "*",
                                          "-o",   target, "--data-binary", "",          url};
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void AddDownloadCases(const Config& config, const BodyFile& body, const std::string& work,
                      std::vector<BenchCase>& cases) {
    const std::string url = config.Url(body);
    const std::uint64_t size = body.size;
    const auto expected = static_cast<std::int64_t>(size);
    const std::string target = config.ScratchPath(work + ".download");
    const auto removeTarget = [target] { RemoveFile(target); };
    const auto stored = [target, expected] { return FileSize(target) == expected; };

    cases.push_back(
        {work + "/library_transfer_file", size, 0, false, [=] {
             auto handle = std::make_shared<LibraryHandle>();
             return CaseRun{
                 [=] { return LibraryTransferFile(*handle, url, target, kDownload) && stored(); },
                 removeTarget};
         }});
    cases.push_back({work + "/curl_o", size, 0, true, [=] {
                         return CaseRun{[=] { return CurlToolDownload(url, target) && stored(); },
                                        removeTarget};
                     }});
    cases.push_back({work + "/libcurl_network_only", size, 0, false, [=] {
                         return CaseRun{[=] { return CurlPostCountingReply(url) == expected; }, {}};
                     }});
    const std::string sample = ReadPrefix(config.DataPath(body), 1024);
    cases.push_back({work + "/write_floor_1024", size, 0, false, [=] {
                         return CaseRun{
                             [=] { return WriteInPieces(target, sample, size) && stored(); },
                             removeTarget};
                     }});
}

}  // namespace

std::vector<BenchCase> AllCases(const Config& config) {
    std::vector<BenchCase> cases;
    if (config.small.size > 0) AddSmallFetchCases(config, cases);
    if (config.medium.size > 0) {
        AddLargeFetchCases(config, cases);
        AddUploadCases(config, cases);
    }
    if (config.large.size > 0) AddDownloadCases(config, config.large, "download_256m", cases);
    if (config.huge.size > 0) AddDownloadCases(config, config.huge, "download_1g", cases);
    return cases;
}

}  // namespace bench
