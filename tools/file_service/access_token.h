// The shared secret that clients present when the service is not open to everyone. The library
// cannot add headers, so the token may come in the URL (?token=...), which it keeps in the
// request target; other clients may send "Authorization: Bearer <token>" instead.
#pragma once

#include <httplib.h>

#include <string>

class AccessToken {
  public:
    AccessToken() = default;  // no token: every request is admitted
    explicit AccessToken(std::string secret) : secret_(std::move(secret)) {}

    bool required() const { return !secret_.empty(); }
    // True when no token is required or the request carries the right one.
    bool Admits(const httplib::Request& request) const;

  private:
    bool Matches(const std::string& presented) const;

    std::string secret_;
};

// Why `token` cannot serve ("" when it can): it must be non-empty and stand in a URL unchanged.
std::string TokenProblem(const std::string& token);

// The first line of the file at `path`, without its line end; throws std::runtime_error when
// the file cannot be read.
std::string ReadTokenFile(const std::string& path);
