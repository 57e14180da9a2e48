#include "form/multipart_body.h"

#include <limits>

#include "form/multipart_body_writer.h"

std::uint32_t MultipartBodyEstimate(const FormFieldList& fields) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    std::uint64_t estimate = 0;
    for (const FormField& field : fields) {
        estimate += field.MultipartEstimate();
        if (estimate >= kMax) return static_cast<std::uint32_t>(kMax);
    }
    return static_cast<std::uint32_t>(estimate);
}

std::uint32_t BuildMultipartBody(const FormFieldList& fields, char** body, const char* boundary) {
    if (body == nullptr || *body != nullptr) return 0;
    form::MultipartBodyWriter writer(fields, boundary);
    if (!writer.Reserve()) return 0;
    const std::uint32_t length = writer.Write();
    if (length == 0) return 0;
    *body = writer.Release();
    return length;
}
