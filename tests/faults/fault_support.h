// What the fault suites share: the test support, the user's settings kept aside, checks made in
// forked children, and running out of memory on demand.
#pragma once

#include <gtest/gtest.h>
#include <zemuser.h>

#include <cstdlib>

#include "support/library_helpers.h"
#include "support/multipart_reference.h"
#include "support/scripted_server.h"

namespace fault_testing {

using namespace testing_support;

inline const bool g_settingsKeptAside =
    setenv("ZEMUSER_SETTINGS_DIR", ZEMUSER_BINARY_DIR "/tests/fault_tests_settings", 0) == 0;

// A forked child cannot use the framework's assertions: it exits with the number of its first
// failed check, 0 when all held.
struct ChildChecks {
    int count = 0, first = 0;
    bool operator()(bool held) {
        ++count;
        if (!held && first == 0) first = count;
        return held;
    }
};

// Each row of a table test named for its case.
constexpr auto kRowName = [](const auto& info) { return std::string(info.param.name); };

inline void ExpectChildChecksHeld(const ChildEnd& end) {
    ASSERT_TRUE(end.exited) << end.Describe();
    EXPECT_EQ(end.code, 0) << "the number of the child's first failed check";
}

// A thread's allocation faults (trivial, so the allocator may use it any time): armed, its
// failAt-th allocation fails (operator new; the engine's malloc, calloc and realloc, --wrap'ed);
// `watchAction` runs once before its first C allocation of `watchBytes` or more (a body's).
struct AllocationFaults {
    bool armed, delivered;
    std::size_t seen, failAt, watchBytes;
    void (*watchAction)();
};
AllocationFaults& ThreadFaults();  // the calling thread's

}  // namespace fault_testing
