// The steps every transfer call shares: split the URL, accept only http and https, connect
// with the fixed agent, add the call's form fields, and send one request.
#pragma once

#include <functional>

#include "session/transfer_session.h"

namespace zemuser {

enum class FrameOutcome {
    NotSplit,       // bad URL or another scheme: nothing opened, no final trace line
    ConnectFailed,  // reported by the session; the caller closes and traces its result
    SendFailed,     // reported by the session; the caller closes and traces its result
    Sent,           // answered: the response can be read
};

using FieldAdder = std::function<void(TransferSession&)>;

FrameOutcome RunTransferFrame(TransferSession& session, const char* url, RequestKind kind,
                              const FieldAdder& addFields);

// Closes whatever the session still holds open when a transfer call is left by any way, an
// exception (memory running out) included. The ordinary ways have closed everything already;
// a session with nothing open is left untouched.
class CloseHandlesOnExit {
  public:
    explicit CloseHandlesOnExit(TransferSession& session) : session_(session) {}
    ~CloseHandlesOnExit() {
        if (session_.HasOpenHandles()) session_.CloseHandles();
    }
    CloseHandlesOnExit(const CloseHandlesOnExit&) = delete;
    CloseHandlesOnExit& operator=(const CloseHandlesOnExit&) = delete;

  private:
    TransferSession& session_;
};

}  // namespace zemuser
