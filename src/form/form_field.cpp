#include "form/form_field.h"

#include <climits>
#include <cstdio>
#include <limits>
#include <string_view>

#include "form/byte_appender.h"
#include "form/multipart_part.h"
#include "form/upload_file.h"

namespace {

constexpr std::uint32_t kTextPartAllowance = 8192;
constexpr std::uint32_t kFilePartAllowance = 6144;
constexpr UINT kUtf8CodePage = 65001;

std::string TextOrEmpty(const char* text) {
    return text != nullptr ? text : "";
}

std::uint32_t SaturateTo32(std::uint64_t value) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(value < kMax ? value : kMax);
}

std::string WideToUtf8(const platform::WideString& wide) {
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return "";
    const int wideLength = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(kUtf8CodePage, 0, wide.data(), wideLength, nullptr, 0,
                                           nullptr, nullptr);
    if (needed < 1) return "";
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    const int converted = WideCharToMultiByte(kUtf8CodePage, 0, wide.data(), wideLength,
                                              narrow.data(), needed, nullptr, nullptr);
    narrow.resize(converted > 0 ? static_cast<std::size_t>(converted) : 0);
    return narrow;
}

}  // namespace

std::unique_ptr<FormField> FormField::FromInteger(const char* name, std::int32_t value) {
    char digits[12];  // the eleven characters of the lowest 32-bit integer and the terminator
    std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
    auto field = std::make_unique<FormField>();
    field->name = TextOrEmpty(name);
    field->value = digits;
    return field;
}

std::unique_ptr<FormField> FormField::FromText(const char* name, const char* value, bool isFile) {
    auto field = std::make_unique<FormField>();
    field->name = TextOrEmpty(name);
    field->value = TextOrEmpty(value);
    field->isFile = isFile;
    return field;
}

std::unique_ptr<FormField> FormField::FromWideText(const char* name, const WCHAR* value,
                                                   bool isFile) {
    auto field = std::make_unique<FormField>();
    field->name = TextOrEmpty(name);
    field->isFile = isFile;
    field->isWide = true;
    if (value != nullptr) field->wideValue = value;
    field->value = WideToUtf8(field->wideValue);
    return field;
}

std::uint32_t FormField::WriteUrlEncoded(char* destination, std::uint32_t room) const {
    const std::uint64_t length = std::uint64_t{name.size()} + 1 + value.size();
    if (destination == nullptr || length > room) return 0;
    form::ByteAppender out(destination, room);
    out.Append(name);
    out.Append("=");
    out.Append(value);
    return static_cast<std::uint32_t>(out.Written());
}

std::uint32_t FormField::MultipartEstimate() const {
    if (!isFile) return kTextPartAllowance;
    const form::UploadFile file(*this);
    return SaturateTo32(file.Size() + kFilePartAllowance);
}

std::uint32_t FormField::WriteMultipart(char* destination, std::uint32_t room,
                                        const char* boundary) const {
    const std::string_view separator = boundary != nullptr ? boundary : "";
    std::uint64_t written = 0;
    if (isFile) {
        form::UploadFile file(*this);
        written = form::WriteFilePart(*this, separator, file, destination, room);
    } else {
        written = form::WriteTextPart(*this, separator, destination, room);
    }
    // Never more than `room`, which is 32-bit.
    return static_cast<std::uint32_t>(written);
}
