// Text conversion on POSIX, where the narrow code page is UTF-8. Ill-formed text is repaired
// with U+FFFD rather than refused, as the conversions of Windows do without their strict flags.
#include "platform/posix/system/support.h"

namespace zemuser::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void PutUtf8(char32_t code, std::string& out) {
    static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    const int tail = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    out.push_back(static_cast<char>(kLead[tail] | (code >> (6 * tail))));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6)
        out.push_back(static_cast<char>(0x80 | ((code >> shift) & 0x3F)));
}

// Appends the UTF-8 form of `text`; false when it held a lone surrogate, which became U+FFFD.
bool AppendUtf8(const WideChar* text, std::string& out) {
    bool wellFormed = true;
    for (; *text != 0; ++text) {
        char32_t code = *text;
        if (code >= 0xD800 && code <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (*++text - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = kReplacement;
            wellFormed = false;
        }
        PutUtf8(code, out);
    }
    return wellFormed;
}

// Decodes the sequence at `text` and moves past it; one U+FFFD for each maximal ill-formed part,
// as Unicode recommends. The range of the second byte depends on the lead byte: that is what
// rules out overlong forms, surrogates and values above U+10FFFF.
char32_t NextCodePoint(const unsigned char*& text) {
    const unsigned lead = *text++;
    if (lead < 0x80) return lead;
    if (lead < 0xC2 || lead > 0xF4) return kReplacement;
    const int length = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    char32_t code = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k, low = 0x80, high = 0xBF) {
        if (*text < low || *text > high) return kReplacement;  // also stops at the terminator
        code = (code << 6) | (*text++ & 0x3F);
    }
    return code;
}

}  // namespace

std::string posix::Utf8Path(const WideChar* path) {
    std::string converted;
    if (path != nullptr && !AppendUtf8(path, converted)) converted.clear();
    return converted;
}

std::string Utf8FromWide(const WideChar* text) {
    std::string converted;
    if (text != nullptr) AppendUtf8(text, converted);
    return converted;
}

WideString WideFromNarrow(const char* text) {
    WideString converted;
    if (text == nullptr) return converted;
    for (auto* bytes = reinterpret_cast<const unsigned char*>(text); *bytes != 0;) {
        const char32_t code = NextCodePoint(bytes);
        if (code < 0x10000) {
            converted.push_back(static_cast<WideChar>(code));
        } else {
            converted.push_back(static_cast<WideChar>(0xD800 | ((code - 0x10000) >> 10)));
            converted.push_back(static_cast<WideChar>(0xDC00 | (code & 0x3FF)));
        }
    }
    return converted;
}

}  // namespace zemuser::platform
