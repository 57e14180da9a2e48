// Ownership of what the library hands out: transfer handles and reply buffers.
#pragma once

#include <zemuser.h>

#include <memory>

struct TransferHandleEnder {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using TransferHandleOwner = std::unique_ptr<void, TransferHandleEnder>;

struct ReplyBufferReleaser {
    void operator()(char* buffer) const { ZEMReleaseBuffer(buffer); }
};
using ReplyBuffer = std::unique_ptr<char, ReplyBufferReleaser>;
