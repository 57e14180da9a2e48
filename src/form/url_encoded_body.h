// The application/x-www-form-urlencoded body of a form POST: name=value pairs in list order,
// joined by '&', bytes copied as they are (no escaping of any kind).
#pragma once

#include <cstdint>

#include "form/form_field.h"

namespace zemuser {

// The body's length without a terminator; 0 for an empty list. Also 0 for a non-empty list
// whose body, with the zero byte that follows it, would not fit 32 bits: a non-empty list
// otherwise always has a length of at least 1.
std::uint32_t UrlEncodedBodyLength(const FormFieldList& fields);

// Writes the body followed by a zero byte, so `capacity` must exceed the body's length.
// Returns the body's length, or 0 with nothing written (too small a buffer, empty list).
std::uint32_t BuildUrlEncodedBody(const FormFieldList& fields, char* buffer,
                                  std::uint32_t capacity);

}  // namespace zemuser
