// The multipart/form-data body of a multipart POST: one part per field in list order, file
// contents read from disk, then the closing delimiter.
#pragma once

#include <cstdint>

#include "form/form_field_list.h"

// The sum of the fields' allowances (FormField::MultipartEstimate); 0 for an empty list.
// Saturates at 0xFFFFFFFF.
std::uint32_t MultipartBodyEstimate(const FormFieldList& fields);

// `*body` must be null on entry (else returns 0 and does nothing). Builds the body into a
// zero-filled block from HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, ...), stores it in
// *body and returns the body's exact length; a zero byte follows the body in the block. The
// caller frees it with HeapFree(GetProcessHeap(), 0, *body). Returns 0 with *body still null
// when the body would be longer than 0xFFFFFFFF bytes or the heap refused the block; a body
// that was built is never shorter than its closing delimiter.
std::uint32_t BuildMultipartBody(const FormFieldList& fields, char** body, const char* boundary);
