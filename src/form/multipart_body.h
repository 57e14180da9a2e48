// The multipart/form-data body of a multipart POST: one part per field in list order, file
// contents read from disk, then the closing delimiter.
#pragma once

#include <cstdint>

#include "form/body_block.h"
#include "form/form_field.h"

namespace zemuser {

// `*body` must be null on entry (else returns 0 and does nothing). Builds the body into one
// zero-filled block, stores it in *body and returns the body's exact length; a zero byte
// follows the body in the block. Each file is opened once, measured and read; it contributes
// no more than the size it had when opened (less if it shrank meanwhile), and one that cannot
// be opened leaves its part as the header alone. Quotes, CR and LF in names and file names are
// written as %22, %0D and %0A. Returns 0 with *body still null when the body would be longer
// than 0xFFFFFFFF bytes, when a value or a file holds the body's delimiter ("--" and the
// boundary), or when the heap refused the block.
std::uint32_t BuildMultipartBody(const FormFieldList& fields, BodyBlock* body,
                                 const char* boundary);

}  // namespace zemuser
