#include "soak_world.h"

#include <chrono>
#include <filesystem>
#include <regex>
#include <stdexcept>
#include <thread>

namespace soak {
namespace {

// Sizes around the library's 1024-byte pieces and its 512 KB receive window.
constexpr std::size_t kBlobSizes[] = {1, 100, 1023, 1024, 1025, 4097, 65536, 200000, 1048576};

std::string WaitForListeningUrl(const std::string& logFile) {
    const std::regex listening("listening on (http://127\\.0\\.0\\.1:[0-9]+)\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
        std::string log;
        if (testing_support::FileExists(logFile)) log = testing_support::ReadFileBytes(logFile);
        std::smatch match;
        if (std::regex_search(log, match, listening)) return match[1];
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("the file service did not start: " + log);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

SoakWorld::SoakWorld()
    : service_({ZEMUSER_FILE_SERVICE_PROGRAM, "--root", serviceRoot_.path(), "--port", "0"},
               logs_.File("file-service.log")) {
    serviceUrl_ = WaitForListeningUrl(logs_.File("file-service.log")) + "/files";
    std::filesystem::create_directory(serviceRoot_.File(kSession));
    unsigned seed = 1;
    for (std::size_t size : kBlobSizes) {
        Blob blob{"blob-" + std::to_string(size) + ".bin",
                  testing_support::PatternText(size, seed++)};
        nginx_.AddFile(blob.name, blob.content);
        testing_support::WriteFileBytes(StoredFile(kSession, blob.name), blob.content);
        blobs_.push_back(std::move(blob));
    }
}

std::string SoakWorld::StaticUrl(const Blob& blob, bool secure) const {
    if (!secure) return nginx_.url("/" + blob.name);
    const auto port = nginx_.httpsPort(testing_support::CertificateKind::Good);
    return "https://127.0.0.1:" + std::to_string(port) + "/" + blob.name;
}

std::string SoakWorld::StoredFile(const std::string& session, const std::string& name) const {
    return serviceRoot_.File(session + "/" + name);
}

}  // namespace soak
