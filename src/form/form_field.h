// One form field of a POST: a name and the value that is sent, either text or the path of a
// file whose contents go into a multipart body.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/platform.h"

struct FormField {
    std::string name;
    // The text as passed; "%d" of an integer; a file's path; the UTF-8 form of wide text.
    std::string value;
    bool isFile = false;
    bool isWide = false;
    platform::WideString wideValue;  // the wide text as passed when isWide

    // A null name or a null narrow value counts as empty text.
    static std::unique_ptr<FormField> FromInteger(const char* name, std::int32_t value);
    static std::unique_ptr<FormField> FromText(const char* name, const char* value, bool isFile);
    // Text that cannot be converted gives an empty value; the field is still made.
    static std::unique_ptr<FormField> FromWideText(const char* name, const WCHAR* value,
                                                   bool isFile);

    // Writes name=value and returns name length + value length + 1. Writes nothing and
    // returns 0 when that does not fit into `room`.
    std::uint32_t WriteUrlEncoded(char* destination, std::uint32_t room) const;

    // The room a body plans for this part: 8192 for text, the file's size + 6144 for a file
    // (6144 alone when the file cannot be opened). Saturates at 0xFFFFFFFF.
    std::uint32_t MultipartEstimate() const;

    // Writes this field's part of a multipart body and returns its length. A file is opened,
    // read and closed here. Writes nothing and returns 0 when the part does not fit `room`.
    std::uint32_t WriteMultipart(char* destination, std::uint32_t room, const char* boundary) const;
};
