#include "form/multipart_body_writer.h"

#include <algorithm>
#include <limits>

#include "form/multipart_part.h"
#include "form/upload_file.h"

namespace form {
namespace {

constexpr std::uint64_t kLongestBody = std::numeric_limits<std::uint32_t>::max();

}  // namespace

MultipartBodyWriter::MultipartBodyWriter(const FormFieldList& fields, const char* boundary)
    : fields_(fields), boundary_(boundary != nullptr ? boundary : "") {}

bool MultipartBodyWriter::Reserve() {
    plans_.clear();
    for (const FormField& field : fields_) {
        // Never less than the field's own allowance, so that a file growing by a few
        // kilobytes still fits without moving the block.
        const std::uint64_t allowance = field.MultipartEstimate();
        std::uint64_t exact = 0;
        if (field.isFile) {
            const UploadFile file(field);
            exact = FilePartLength(field, boundary_, file);
        } else {
            exact = TextPartLength(field, boundary_);
        }
        plans_.push_back({std::max(allowance, exact), exact});
    }
    reservedFrom_.assign(plans_.size() + 1, 0);
    exactFrom_.assign(plans_.size() + 1, 0);
    for (std::size_t i = plans_.size(); i-- > 0;) {
        reservedFrom_[i] = reservedFrom_[i + 1] + plans_[i].reserved;
        exactFrom_[i] = exactFrom_[i + 1] + plans_[i].exact;
    }
    block_.Reset();
    if (!FitsWire(0, 0, 0)) return false;
    const std::uint64_t capacity = reservedFrom_[0] + ClosingDelimiterLength(boundary_) + 1;
    if (capacity > std::numeric_limits<std::size_t>::max()) return false;
    return block_.Allocate(static_cast<std::size_t>(capacity));
}

std::uint32_t MultipartBodyWriter::Write() {
    if (block_.data() == nullptr) return 0;
    std::uint64_t position = 0;
    std::size_t index = 0;
    for (const FormField& field : fields_) {
        const std::uint64_t written = index < plans_.size() ? WritePart(field, index, position) : 0;
        if (written == 0) {
            block_.Reset();
            return 0;
        }
        position += written;
        ++index;
    }
    // Room for the closing delimiter and the zero byte was made with the last part; the zero
    // byte is there already, since the block is zero-filled.
    position +=
        WriteClosingDelimiter(boundary_, block_.data() + position, block_.size() - position);
    return static_cast<std::uint32_t>(position);
}

std::uint64_t MultipartBodyWriter::WritePart(const FormField& field, std::size_t index,
                                             std::uint64_t position) {
    if (!field.isFile) {
        if (!MakeRoom(position, plans_[index].exact, index + 1)) return 0;
        return WriteTextPart(field, boundary_, block_.data() + position, block_.size() - position);
    }
    // The file may have changed since Reserve: the part is sized by what it measures now.
    UploadFile file(field);
    const std::uint64_t length = FilePartLength(field, boundary_, file);
    if (!FitsWire(position, length, index + 1) || !MakeRoom(position, length, index + 1)) {
        return 0;
    }
    return WriteFilePart(field, boundary_, file, block_.data() + position,
                         block_.size() - position);
}

bool MultipartBodyWriter::MakeRoom(std::uint64_t position, std::uint64_t length,
                                   std::size_t nextIndex) {
    const std::uint64_t needed =
        position + length + reservedFrom_[nextIndex] + ClosingDelimiterLength(boundary_) + 1;
    if (needed <= block_.size()) return true;
    if (needed > std::numeric_limits<std::size_t>::max()) return false;
    return block_.Grow(static_cast<std::size_t>(needed), static_cast<std::size_t>(position));
}

bool MultipartBodyWriter::FitsWire(std::uint64_t position, std::uint64_t length,
                                   std::size_t nextIndex) const {
    return position + length + exactFrom_[nextIndex] + ClosingDelimiterLength(boundary_) <=
           kLongestBody;
}

}  // namespace form
