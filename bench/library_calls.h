// The library's side of every comparison, through the public header only, as a host uses it.
#pragma once

#include <zemuser.h>

#include <cstdint>
#include <string>

namespace bench {

// A transfer handle for the file calls, ended with the object.
class LibraryHandle {
  public:
    LibraryHandle() : handle_(ZEMTransferBegin()) {}
    ~LibraryHandle() { ZEMTransferEnd(handle_); }
    LibraryHandle(const LibraryHandle&) = delete;
    LibraryHandle& operator=(const LibraryHandle&) = delete;
    TransferHandle get() const { return handle_; }

  private:
    TransferHandle handle_;
};

// ZEMUrlGet2 with a null handle into the host's buffer of `size` + 1 bytes; the byte count,
// or -1 when the call failed or the status was not 200.
std::int64_t LibraryGet2(const std::string& url, char* buffer, std::int32_t size);
// ZEMUrlGet3 with a null handle; the length of the handed-out body (released here) or -1.
std::int64_t LibraryGet3(const std::string& url);
// ZEMUrlTransferFile with no form fields of the host's own: direction 0 downloads the reply
// into `localPath`, direction 1 uploads it (the call adds file_num and file1).
bool LibraryTransferFile(const LibraryHandle& handle, const std::string& url,
                         const std::string& localPath, std::int32_t direction);

}  // namespace bench
