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

#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace fault_testing {

using testing_support::HttpResponse;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TempDir;

// The multipart shapes a server must receive.
constexpr const char kDelimiter[] = "----MULTI-PARTS-FORM-DATA-BOUNDARY";
std::string TextPart(const std::string& name, const std::string& value);
// `content` null: the file could not be read, the part is its header alone.
std::string FilePart(const std::string& name, const std::string& fileName,
                     const std::string* content);
std::string ClosingDelimiter();

// Printable bytes that show misplaced or lost ones (no zero bytes: the text exports stop there).
std::string PatternText(std::size_t size, unsigned seed = 0);

// Reads each request and answers it with `response`.
ScriptedServer::Script Answer(std::string response);
// An upload server: answers "OK" when the request body is exactly `expectedBody`, "INCOMPLETE"
// otherwise, so an upload that reports success has delivered every byte.
ScriptedServer::Script JudgeUpload(std::string expectedBody);

struct HandleEnder {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleEnder>;

// Descriptors open in this process, as the kernel lists them: files, pipes, socket pairs and the
// client side of connections to this process's own servers. A call must leave none behind.
std::size_t OpenDescriptors();
// Sessions alive now (handles and calls in progress), as the HTTP/1.1 override counts them.
std::int32_t LiveSessions();
// True when the leak checker found nothing (always true in builds without it).
bool NoLeaksSoFar();

// How a forked child ended.
struct ChildEnd {
    bool exited = false;  // ran to its end: `code` is its exit status
    int code = -1;
    int signal = 0;  // the signal that ended it, if any
    bool timedOut = false;
    std::string Describe() const;
};

// Runs `body` in a forked child whose exit status is its result; a child still running after
// `limit` is killed. The child sees a copy of the process: servers of the parent keep
// answering it over loopback, but it must not use the test framework's assertions.
ChildEnd RunInChild(const std::function<int()>& body,
                    std::chrono::seconds limit = std::chrono::seconds(60));

// In a child: gives up the right to write where the file permissions forbid it (a test run as
// root would otherwise write into a read-only folder). False when that cannot be done.
bool DropFileOverride();

// Milliseconds since `start`.
long MillisSince(std::chrono::steady_clock::time_point start);

}  // namespace fault_testing
