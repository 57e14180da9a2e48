// The reference file service as a child process on a free loopback port, serving a fresh
// temporary folder.
#pragma once

#include <memory>
#include <string>

#include "program_run.h"
#include "support/real_servers.h"

namespace tools_testing {

class FileServiceProcess {
  public:
    FileServiceProcess();  // returns once the service listens; throws when it does not

    const std::string& root() const { return root_.path(); }
    // The service's address, e.g. "http://127.0.0.1:41234/files".
    const std::string& url() const { return url_; }
    std::uint16_t port() const { return port_; }
    // Stops it with SIGTERM and gives how it ended.
    ProgramResult Stop();

  private:
    testing_support::TempDir root_;
    std::unique_ptr<RunningProgram> program_;
    std::string url_;
    std::uint16_t port_ = 0;
};

}  // namespace tools_testing
