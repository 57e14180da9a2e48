#include "form/url_encoded_body.h"

#include <algorithm>
#include <limits>

namespace zemuser {
namespace {

// One less than the 32-bit maximum, so that length + 1 for the terminator cannot wrap.
constexpr std::uint64_t kLongestBody = std::numeric_limits<std::uint32_t>::max() - 1;

void Append(char* buffer, std::uint32_t* position, const std::string& text) {
    std::copy(text.begin(), text.end(), buffer + *position);
    *position += static_cast<std::uint32_t>(text.size());
}

}  // namespace

std::uint32_t UrlEncodedBodyLength(const FormFieldList& fields) {
    if (fields.empty()) return 0;
    std::uint64_t length = 0;
    for (const FormField& field : fields) {
        length += std::uint64_t{field.name.size()} + field.value.size() + 2;
        if (length > kLongestBody + 1) return 0;
    }
    length -= 1;  // no '&' after the last pair
    return length <= kLongestBody ? static_cast<std::uint32_t>(length) : 0;
}

std::uint32_t BuildUrlEncodedBody(const FormFieldList& fields, char* buffer,
                                  std::uint32_t capacity) {
    const std::uint32_t length = UrlEncodedBodyLength(fields);
    if (buffer == nullptr || length == 0 || capacity <= length) return 0;
    std::uint32_t position = 0;
    for (const FormField& field : fields) {
        if (position > 0) buffer[position++] = '&';
        Append(buffer, &position, field.name);
        buffer[position++] = '=';
        Append(buffer, &position, field.value);
    }
    buffer[position] = '\0';
    return position;
}

}  // namespace zemuser
