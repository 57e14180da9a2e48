// The file behind a file field, open for reading for as long as this object lives.
#pragma once

#include <cstdint>

#include "form/form_field.h"
#include "platform/platform.h"

namespace form {

class UploadFile {
  public:
    // Opens by the wide path when the field was given as wide text, else by the narrow one.
    explicit UploadFile(const FormField& field);
    ~UploadFile();
    UploadFile(const UploadFile&) = delete;
    UploadFile& operator=(const UploadFile&) = delete;

    bool IsOpen() const;
    // The whole size (all 64 bits) measured when the file was opened; 0 when it is not open
    // or its size cannot be had.
    std::uint64_t Size() const { return size_; }

    // Reads at most `limit` bytes into `destination`; stops early at the end of the file or at
    // a failed read. Returns the bytes read.
    std::uint64_t ReadInto(char* destination, std::uint64_t limit);

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::uint64_t size_ = 0;
};

}  // namespace form
