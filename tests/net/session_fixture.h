// What the session tests share: a session connected to a loopback server.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "session/transfer_session.h"
#include "support/library_helpers.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace session_testing {

using namespace zemuser;

using testing_support::Answer;
using testing_support::TraceFile;

inline bool ConnectTo(TransferSession& session, std::uint16_t port,
                      ConnectMode mode = ConnectMode::ModeHttp) {
    return session.Connect("127.0.0.1", port, nullptr, nullptr, mode, kTransferAgent);
}

}  // namespace session_testing
