// Owns a request body on the process heap, released with HeapFree on every way out.
#pragma once

#include <memory>

#include "platform/platform.h"

struct HeapBodyFree {
    void operator()(void* block) const {
        if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
    }
};

using HeapBody = std::unique_ptr<char, HeapBodyFree>;
