// One WinINet handle of the transport, with the handles above it (a request's connection and
// session). Closing a handle also ends the handles below it: WinINet frees them itself, so
// their values must never reach WinINet again, where they may by then name another object.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "platform/http_transport.h"

namespace zemuser::platform::windows {

// A call on an object that is closed already.
constexpr ErrorCode kClosedObject = ERROR_INVALID_HANDLE;

// The thread's last error after a failed call; never 0, so that a failure cannot pass for
// success when WinINet did not set a code.
ErrorCode LastFailure();

class InternetHandle {
  public:
    // Under `parent`, or a session's handle when `parent` is null. Not yet open.
    explicit InternetHandle(std::shared_ptr<InternetHandle> parent);
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    // Takes `handle`, the result of the call that opened it; false when that call failed.
    // Makes no platform call, so the failed call's last error is still there to read.
    bool Adopt(HINTERNET handle);

    // The handle, or null once it or one above it is closed.
    HINTERNET Get() const;

    // Closes the handle once, whatever the number of callers and threads. The owning object
    // calls it at the latest from its destructor.
    void Close();

  private:
    bool AncestorsOpen() const;
    std::mutex& TreeLock();

    std::shared_ptr<InternetHandle> parent_;
    std::atomic<HINTERNET> handle_{nullptr};
    // Serialises the closes of one session's handles: a request must not be closed while its
    // connection's close is freeing it.
    std::mutex treeLock_;
};

}  // namespace zemuser::platform::windows
