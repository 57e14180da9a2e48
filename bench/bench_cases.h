// Every measured case, named "<work>/<who does it>", so that the benchmark runner and the
// one-case-per-process peak memory runs share one definition.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bench_config.h"

namespace bench {

struct CaseRun {
    std::function<bool()> run;       // one measured run; false when its transfer failed
    std::function<void()> afterRun;  // untimed tidying between runs (a download removed)
};

struct BenchCase {
    std::string name;
    std::uint64_t bytes = 0;           // body bytes one run moves, for MB/s
    std::uint64_t requests = 0;        // requests one run makes, for requests/s
    bool workInChild = false;          // the work runs in a child process (its peak memory counts)
    std::function<CaseRun()> prepare;  // untimed: what a host sets up once
};

// The cases whose files exist under the data folder.
std::vector<BenchCase> AllCases(const Config& config);

}  // namespace bench
