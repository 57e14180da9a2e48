// What tests of the library share: its trace routed to a temporary file and read back, and
// handles and handed-out buffers that release themselves.
#pragma once

#include <zemuser.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "support/portable_helpers.h"

namespace testing_support {

// Traces at the given threshold for the life of the object; then tracing is off again.
class TraceFile {
  public:
    explicit TraceFile(std::int32_t level = 0) : path_(folder_.File("trace.txt")) {
        ZEMUser_SetTraceLevel(level);
        ZEMUser_SetTraceFile(path_.c_str());
    }
    ~TraceFile() {
        ZEMUser_SetTraceFile(nullptr);
        ZEMUser_SetTraceLevel(0);
    }

    std::string Text() const {  // as written, in text mode (CR LF line ends on Windows)
        std::ostringstream text;
        text << std::ifstream(path_).rdbuf();
        return text.str();
    }
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }
    // Without the failure reports ("[" lines, then the platform's text and an empty line).
    std::string OwnLines() const {
        std::istringstream in(Text());
        std::string line, kept;
        while (std::getline(in, line)) {
            if (!line.empty() && line.front() != '[') kept += line + "\n";
        }
        return kept;
    }

  private:
    TempDir folder_;
    std::string path_;
};

struct HandleEnder {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleEnder>;

struct BufferReleaser {
    void operator()(char* buffer) const { ZEMReleaseBuffer(buffer); }
};
using HandedBuffer = std::unique_ptr<char, BufferReleaser>;

}  // namespace testing_support
