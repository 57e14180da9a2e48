// Owns a block of the process heap, released with HeapFree on every way out.
#pragma once

#include <memory>

#include "platform/platform.h"

struct HeapBlockFree {
    void operator()(void* block) const {
        if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
    }
};

using HeapBlock = std::unique_ptr<char, HeapBlockFree>;
