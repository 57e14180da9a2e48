// A host's local path, narrow or wide, with the few file operations the file transfers need.
// Wide paths are UTF-16 and reach the trace lines as UTF-8.
#pragma once

#include <string>

#include "platform/system.h"
#include "session/transfer_session.h"

namespace zemuser {

class LocalPath {
  public:
    static LocalPath Narrow(const char* path);
    static LocalPath Wide(const platform::WideChar* path);

    const std::string& ForTrace() const { return trace_; }
    // True when the path names an existing folder.
    bool IsFolder() const;
    // The path of `name` inside this folder.
    LocalPath Join(const std::string& name) const;
    // Stores the session's response body in the file; the byte count, 0 on failure.
    std::uint32_t StoreResponse(TransferSession& session) const;
    // Adds the path as a file field of the session's form.
    void AddAsFileField(TransferSession& session, const char* fieldName) const;

  private:
    bool wide_ = false;
    std::string narrow_;
    platform::WideString wideText_;
    std::string trace_;
};

}  // namespace zemuser
