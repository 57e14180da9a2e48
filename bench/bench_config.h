// Where the benchmarks find their server and files; run.sh sets these in the environment.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

struct BodyFile {
    std::string name;        // file name under the data folder and URL path under the server
    std::uint64_t size = 0;  // 0 when the file is absent: its cases are left out
};

struct Config {
    std::string baseUrl;     // ZEMUSER_BENCH_URL, e.g. http://127.0.0.1:8080
    std::string dataDir;     // ZEMUSER_BENCH_DATA: the server's document root
    std::string scratchDir;  // ZEMUSER_BENCH_SCRATCH: downloads and the write floor go here
    std::string uploadPath;  // URL path that reads the whole upload body and answers "OK"
    BodyFile small, medium, large, huge;  // 1 KB, 64 MB, 256 MB, 1 GB (optional)
    // Small fetches per run of a small-fetch case: ZEMUSER_BENCH_SMALL_FETCHES, else 2000.
    int smallFetches = 2000;

    std::string Url(const BodyFile& file) const { return baseUrl + "/" + file.name; }
    std::string DataPath(const BodyFile& file) const { return dataDir + "/" + file.name; }
    std::string ScratchPath(const std::string& name) const { return scratchDir + "/" + name; }
    std::string UploadUrl() const { return baseUrl + uploadPath; }
};

// Reads the environment once; throws std::runtime_error naming what is missing.
const Config& GetConfig();

}  // namespace bench
