// What the fault suites share: an upload server that judges what it receives, the library's
// own count of live sessions, the leak checker, and giving up root's right to write anywhere.
#pragma once

#include <zemuser.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/library_helpers.h"
#include "support/multipart_reference.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace fault_testing {

using namespace testing_support;

// Answers "OK" when a request body is one of `accepted`, "INCOMPLETE" otherwise, so an upload
// that reports success has delivered every byte.
ScriptedServer::Script JudgeUpload(std::vector<std::string> accepted);
// Sessions alive now (handles and calls in progress), as the library counts them.
std::int32_t LiveSessions();
// True when the leak checker found nothing (always true in builds without it).
bool NoLeaksSoFar();
// In a forked child: gives up the right to write where the file permissions forbid it (a test
// run as root would otherwise write into a read-only folder). False when that cannot be done.
bool DropFileOverride();

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
