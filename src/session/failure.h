// How a failure travels inside the engine: as a value that carries the report text and the
// platform's code taken where the failure happened. The operation that ends with it reports it
// once; nothing depends on a thread's last error after the fact.
#pragma once

#include <optional>

#include "platform/http_transport.h"

namespace zemuser {

struct Failure {
    const char* text;                               // one of the engine's constant texts
    platform::ErrorCode code = platform::kNoError;  // 0: no second report line
};

// The end of a request operation: answered, given up without a report (the redirect it
// followed has reported for itself), or a failure for SendRequest to report.
class RequestResult {
  public:
    RequestResult(Failure failure) : failure_(failure) {}  // NOLINT(google-explicit-constructor)
    static RequestResult Answered() { return RequestResult(true); }
    static RequestResult Unanswered() { return RequestResult(false); }
    static RequestResult From(bool answered) { return RequestResult(answered); }

    bool answered() const { return answered_; }
    const std::optional<Failure>& failure() const { return failure_; }

  private:
    explicit RequestResult(bool answered) : answered_(answered) {}
    bool answered_ = false;
    std::optional<Failure> failure_;
};

}  // namespace zemuser
