// What the session tests share: a trace file they can read back, and a session connected to a
// loopback server.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "diag/trace_log.h"
#include "session/transfer_session.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace session_testing {

using namespace zemuser;

// Routes the trace log to a temporary file for one test, at level 0.
class TraceCapture {
  public:
    TraceCapture() : path_(folder_.File("trace.txt")) {
        TraceLog::Instance().SetLevel(0);
        TraceLog::Instance().SetFile(path_.c_str());
    }
    ~TraceCapture() { TraceLog::Instance().SetFile(nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;
    std::string Text() const { return testing_support::ReadFileBytes(path_); }

  private:
    testing_support::TempDir folder_;
    std::string path_;
};

inline bool ConnectTo(TransferSession& session, std::uint16_t port,
                      ConnectMode mode = ConnectMode::ModeHttp) {
    return session.Connect("127.0.0.1", port, nullptr, nullptr, mode, kTransferAgent);
}

// A server that reads each request and answers it with `response`.
inline testing_support::ScriptedServer::Script Answer(std::string response) {
    return [response](testing_support::ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send(response);
    };
}

}  // namespace session_testing
