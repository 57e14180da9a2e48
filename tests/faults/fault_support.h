// What the fault suites share: the test support, the user's settings kept aside, and checks
// made in forked children.
#pragma once

#include <zemuser.h>

#include <cstdlib>

#include "support/library_helpers.h"
#include "support/multipart_reference.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace fault_testing {

using namespace testing_support;

// Sessions write the user's HTTP/1.1 settings: into the build tree, never the user's store.
inline const bool g_settingsKeptAside =
    setenv("ZEMUSER_SETTINGS_DIR", ZEMUSER_BINARY_DIR "/tests/fault_tests_settings", 0) == 0;

// Checks made in a forked child, where the test framework's assertions cannot be used: the
// child exits with the number of the first check that failed, 0 when all held.
class ChildChecks {
  public:
    bool operator()(bool held) {
        ++count_;
        if (!held && first_ == 0) first_ = count_;
        return held;
    }
    int Result() const { return first_; }

  private:
    int count_ = 0, first_ = 0;
};

}  // namespace fault_testing
