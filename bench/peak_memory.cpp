#include "peak_memory.h"

#include <sys/resource.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace bench {
namespace {

// VmHWM: the high-water mark of this process's resident set, in KB.
long OwnPeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long ChildrenPeakKb() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int RunForPeakMemory(const BenchCase& benchCase) {
    CaseRun run = benchCase.prepare();
    const bool succeeded = run.run();
    const long peak = benchCase.workInChild ? ChildrenPeakKb() : OwnPeakKb();
    if (run.afterRun) run.afterRun();
    if (!succeeded) {
        std::fprintf(stderr, "%s: the transfer failed\n", benchCase.name.c_str());
        return 1;
    }
    std::printf("%s %ld\n", benchCase.name.c_str(), peak);
    return 0;
}

}  // namespace bench
