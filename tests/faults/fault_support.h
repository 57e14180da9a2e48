// What the fault suites share: servers that judge what they receive, forked children for what
// must not touch the test process (resource limits, lost privileges, signals at their default
// action), and counts of what a call may leave behind.
#pragma once

#include <zemuser.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "support/library_helpers.h"
#include "support/multipart_reference.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace fault_testing {

using testing_support::Answer;
using testing_support::ChildEnd;
using testing_support::ClosingDelimiter;
using testing_support::FilePart;
using testing_support::HttpResponse;
using testing_support::OwnedHandle;
using testing_support::PatternText;
using testing_support::RunInChild;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TempDir;
using testing_support::TextPart;
using testing_support::TraceFile;

// An upload server: answers "OK" when the request body is exactly `expectedBody`, "INCOMPLETE"
// otherwise, so an upload that reports success has delivered every byte.
ScriptedServer::Script JudgeUpload(std::string expectedBody);

// Descriptors open in this process apart from the scripted servers' sockets: a call must leave
// none behind.
using testing_support::CountOpenDescriptors;
// Sessions alive now (handles and calls in progress), as the HTTP/1.1 override counts them.
std::int32_t LiveSessions();
// True when the leak checker found nothing (always true in builds without it).
bool NoLeaksSoFar();

// In a child: gives up the right to write where the file permissions forbid it (a test run as
// root would otherwise write into a read-only folder). False when that cannot be done.
bool DropFileOverride();

// Milliseconds since `start`.
long MillisSince(std::chrono::steady_clock::time_point start);

}  // namespace fault_testing
