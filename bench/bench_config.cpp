#include "bench_config.h"

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>

namespace bench {
namespace {

std::string Required(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(std::string(name) +
                                 " is not set (start the benchmarks with bench/run.sh)");
    }
    return value;
}

BodyFile Probe(const std::string& folder, const std::string& name) {
    BodyFile file{name, 0};
    struct stat info {};
    if (::stat((folder + "/" + name).c_str(), &info) == 0) {
        file.size = static_cast<std::uint64_t>(info.st_size);
    }
    return file;
}

Config Load() {
    Config config;
    config.baseUrl = Required("ZEMUSER_BENCH_URL");
    config.dataDir = Required("ZEMUSER_BENCH_DATA");
    config.scratchDir = Required("ZEMUSER_BENCH_SCRATCH");
    config.uploadPath = "/upload";
    config.small = Probe(config.dataDir, "body-1k.txt");
    config.medium = Probe(config.dataDir, "body-64m.txt");
    config.large = Probe(config.dataDir, "body-256m.txt");
    config.huge = Probe(config.dataDir, "body-1g.txt");
    if (const char* count = std::getenv("ZEMUSER_BENCH_SMALL_FETCHES")) {
        config.smallFetches = std::atoi(count);
    }
    return config;
}

}  // namespace

const Config& GetConfig() {
    static const Config config = Load();
    return config;
}

}  // namespace bench
