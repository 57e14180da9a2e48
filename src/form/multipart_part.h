// The byte layout of the parts of a multipart body: a text part, a file part (header, the
// file's bytes, CR LF) and the closing delimiter. Lengths are 64-bit so that sums of them can
// be checked before they are narrowed to the 32 bits of the wire.
#pragma once

#include <cstdint>
#include <string_view>

#include "form/form_field.h"
#include "form/upload_file.h"

namespace form {

std::uint64_t TextPartLength(const FormField& field, std::string_view boundary);
std::uint64_t FileHeaderLength(const FormField& field, std::string_view boundary);
// A file part carries the file's measured size; a file that could not be opened leaves the
// header alone, without CR LF.
std::uint64_t FilePartLength(const FormField& field, std::string_view boundary,
                             const UploadFile& file);
std::uint64_t ClosingDelimiterLength(std::string_view boundary);

// Each writer writes its whole piece and returns its length, or writes nothing and returns 0
// when the piece does not fit `room`.
std::uint64_t WriteTextPart(const FormField& field, std::string_view boundary, char* destination,
                            std::uint64_t room);
// Takes no more of the file than its measured size; a file that shrank gives what was read.
std::uint64_t WriteFilePart(const FormField& field, std::string_view boundary, UploadFile& file,
                            char* destination, std::uint64_t room);
std::uint64_t WriteClosingDelimiter(std::string_view boundary, char* destination,
                                    std::uint64_t room);

}  // namespace form
