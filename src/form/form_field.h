// The form fields of a POST, each a name and the value that is sent (text, or the path of a
// file whose contents go into a multipart body), and the cookies of a request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/system.h"

namespace zemuser {

struct FormField {
    std::string name;
    // The text as passed; "%d" of an integer; a file's path; the UTF-8 form of wide text.
    std::string value;
    bool isFile = false;
    bool isWide = false;
    platform::WideString wideValue;  // the wide text as passed when isWide

    // A null name or a null narrow value counts as empty text.
    static FormField FromInteger(const char* name, std::int32_t value);
    static FormField FromText(const char* name, const char* value, bool isFile);
    // Text that cannot be converted gives an empty value; the field is still made.
    static FormField FromWideText(const char* name, const platform::WideChar* value, bool isFile);
};

// In the order of adding; duplicate names stay separate entries.
using FormFieldList = std::vector<FormField>;

struct CookieEntry {
    std::string name;
    std::string value;
};

using CookieList = std::vector<CookieEntry>;

}  // namespace zemuser
