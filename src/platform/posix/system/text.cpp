// Text conversion on POSIX, where the narrow code page is UTF-8. Ill-formed text is repaired
// with U+FFFD rather than refused, as the conversions of Windows do without their strict flags.
#include "platform/posix/system/text.h"

#include <cstdint>

namespace zemuser::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void PutUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
        return;
    }
    const int tail = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out.push_back(static_cast<char>(kLead[tail] | (code >> (6 * tail))));
    for (int shift = 6 * (tail - 1); shift >= 0; shift -= 6)
        out.push_back(static_cast<char>(0x80 | ((code >> shift) & 0x3F)));
}

void PutUtf16(char32_t code, WideString& out) {
    if (code < 0x10000) {
        out.push_back(static_cast<WideChar>(code));
        return;
    }
    code -= 0x10000;
    out.push_back(static_cast<WideChar>(0xD800 | (code >> 10)));
    out.push_back(static_cast<WideChar>(0xDC00 | (code & 0x3FF)));
}

// The length of a sequence and the range of its second byte, which depends on the lead byte:
// this is what rules out overlong forms, surrogates and values above U+10FFFF.
struct SequenceShape {
    int length;  // 0 for a byte that cannot start a sequence
    std::uint8_t secondLow, secondHigh;
};

SequenceShape ShapeOf(std::uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

// Decodes the sequence at `text`, advancing it; one U+FFFD for each maximal ill-formed part,
// as Unicode recommends.
char32_t NextCodePoint(const unsigned char*& text) {
    const std::uint8_t lead = *text++;
    if (lead < 0x80) return lead;
    const SequenceShape shape = ShapeOf(lead);
    if (shape.length == 0) return kReplacement;
    char32_t code = lead & (0x7F >> shape.length);
    for (int k = 1; k < shape.length; ++k) {
        const std::uint8_t low = k == 1 ? shape.secondLow : 0x80;
        const std::uint8_t high = k == 1 ? shape.secondHigh : 0xBF;
        if (*text < low || *text > high) return kReplacement;  // also stops at the terminator
        code = (code << 6) | (*text++ & 0x3F);
    }
    return code;
}

}  // namespace

bool posix::AppendUtf8(const WideChar* text, std::string& out) {
    bool wellFormed = true;
    for (; *text != 0; ++text) {
        const char32_t unit = *text;
        if (IsHighSurrogate(unit) && IsLowSurrogate(text[1])) {
            PutUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[1] - 0xDC00), out);
            ++text;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            PutUtf8(kReplacement, out);
            wellFormed = false;
        } else {
            PutUtf8(unit, out);
        }
    }
    return wellFormed;
}

std::string Utf8FromWide(const WideChar* text) {
    std::string converted;
    if (text != nullptr) posix::AppendUtf8(text, converted);
    return converted;
}

WideString WideFromNarrow(const char* text) {
    WideString converted;
    if (text == nullptr) return converted;
    for (auto* bytes = reinterpret_cast<const unsigned char*>(text); *bytes != 0;)
        PutUtf16(NextCodePoint(bytes), converted);
    return converted;
}

}  // namespace zemuser::platform
