// The servers a soak run talks to, all on loopback: nginx serving a set of files (over HTTP and
// HTTPS), and the reference file service holding the same files in its session "soak" and
// taking the uploads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/real_servers.h"

namespace soak {

struct Blob {
    std::string name;
    std::string content;
};

class SoakWorld {
  public:
    SoakWorld();  // returns once every server answers; throws when one does not start
    SoakWorld(const SoakWorld&) = delete;
    SoakWorld& operator=(const SoakWorld&) = delete;

    const std::vector<Blob>& Blobs() const { return blobs_; }
    // The blob as a static file of nginx.
    std::string StaticUrl(const Blob& blob, bool secure) const;
    // Where the file service takes every request, e.g. "http://127.0.0.1:41234/files".
    const std::string& ServiceUrl() const { return serviceUrl_; }
    // Where the file service keeps a session's file on disk.
    std::string StoredFile(const std::string& session, const std::string& name) const;

    static constexpr const char* kSession = "soak";

  private:
    testing_support::NginxServer nginx_;
    testing_support::TempDir serviceRoot_;
    testing_support::TempDir logs_;
    testing_support::ChildProcess service_;
    std::string serviceUrl_;
    std::vector<Blob> blobs_;
};

}  // namespace soak
