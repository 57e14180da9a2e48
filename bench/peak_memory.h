// Peak resident memory of one case, measured in a process that runs nothing else.
#pragma once

#include "bench_cases.h"

namespace bench {

// Runs the case once and prints "<name> <peak resident KB>"; the exit status tells whether the
// run succeeded. The peak is that of this process, or of its child for work done in a child.
int RunForPeakMemory(const BenchCase& benchCase);

}  // namespace bench
