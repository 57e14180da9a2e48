// Builds a multipart body in one zero-filled process-heap block, in two steps: Reserve
// measures every part (files by their current size) and allocates, Write then opens and reads
// each file once and writes the body. A file that grew in between moves the body to a larger
// block; nothing is ever written past the block's end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "form/form_field_list.h"
#include "form/heap_block.h"

namespace form {

class MultipartBodyWriter {
  public:
    MultipartBodyWriter(const FormFieldList& fields, const char* boundary);

    // False when the body could not be held in 32 bits or the heap refused the block.
    bool Reserve();
    // The body's exact length, or 0 when it failed (no block is held then). Needs Reserve.
    std::uint32_t Write();
    // Hands the block over; the caller frees it with HeapFree on the process heap.
    char* Release() { return block_.Release(); }
    std::size_t Capacity() const { return block_.size(); }

  private:
    // What Reserve measured for one part: the room set aside for it and its exact length.
    struct PartPlan {
        std::uint64_t reserved;
        std::uint64_t exact;
    };

    // Writes part `index` at `position`; returns its length, 0 when it could not be written.
    std::uint64_t WritePart(const FormField& field, std::size_t index, std::uint64_t position);
    // Makes room for `length` bytes at `position` followed by the parts from `nextIndex` on,
    // the closing delimiter and the zero byte; false when the heap refuses.
    bool MakeRoom(std::uint64_t position, std::uint64_t length, std::size_t nextIndex);
    // Whether the body still fits 32 bits with `length` bytes at `position` followed by the
    // parts from `nextIndex` on, as measured, and the closing delimiter.
    bool FitsWire(std::uint64_t position, std::uint64_t length, std::size_t nextIndex) const;

    const FormFieldList& fields_;
    std::string boundary_;
    std::vector<PartPlan> plans_;
    // Sums over the parts from index i to the end; one more entry than there are parts.
    std::vector<std::uint64_t> reservedFrom_;
    std::vector<std::uint64_t> exactFrom_;
    HeapBlock block_;
};

}  // namespace form
