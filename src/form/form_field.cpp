#include "form/form_field.h"

#include <cstdio>

namespace zemuser {
namespace {

std::string TextOrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

}  // namespace

FormField FormField::FromInteger(const char* name, std::int32_t value) {
    char digits[12];  // the eleven characters of the lowest 32-bit integer and the terminator
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    FormField field;
    field.name = TextOrEmpty(name);
    field.value = digits;
    return field;
}

FormField FormField::FromText(const char* name, const char* value, bool isFile) {
    FormField field;
    field.name = TextOrEmpty(name);
    field.value = TextOrEmpty(value);
    field.isFile = isFile;
    return field;
}

FormField FormField::FromWideText(const char* name, const platform::WideChar* value, bool isFile) {
    FormField field;
    field.name = TextOrEmpty(name);
    field.value = platform::Utf8FromWide(value);
    field.isFile = isFile;
    field.isWide = true;
    if (value != nullptr) field.wideValue = value;
    return field;
}

}  // namespace zemuser
