// A request body in one zero-filled block from the C heap, freed with the object.
#pragma once

#include <cstdlib>
#include <memory>

namespace zemuser {

struct FreeBlock {
    void operator()(char* block) const { std::free(block); }
};

using BodyBlock = std::unique_ptr<char, FreeBlock>;

// Null when the heap refuses.
inline BodyBlock AllocateBody(std::size_t size) {
    return BodyBlock(static_cast<char*>(std::calloc(size, 1)));
}

}  // namespace zemuser
