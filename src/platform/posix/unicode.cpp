#include "platform/posix/unicode.h"

#include <cstdint>

namespace platform::posix {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void PutUtf8(char32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

void PutUtf16(char32_t code, std::u16string& out) {
    if (code < 0x10000) {
        out.push_back(static_cast<char16_t>(code));
    } else {
        code -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (code >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (code & 0x3FF)));
    }
}

// The range of the second byte of a sequence, which depends on the lead byte: this is what
// rules out overlong forms, surrogates and values above U+10FFFF.
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

}  // namespace

bool AppendUtf8(std::u16string_view wide, std::string& out) {
    bool wellFormed = true;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char16_t unit = wide[i];
        if (IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            char32_t code = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            PutUtf8(code, out);
            ++i;
        } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
            PutUtf8(kReplacement, out);
            wellFormed = false;
        } else {
            PutUtf8(unit, out);
        }
    }
    return wellFormed;
}

bool AppendUtf16(std::string_view narrow, std::u16string& out) {
    bool wellFormed = true;
    std::size_t i = 0;
    while (i < narrow.size()) {
        auto lead = static_cast<std::uint8_t>(narrow[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        SequenceShape shape = ShapeOf(lead);
        char32_t code = lead & (0x7F >> shape.length);
        std::size_t taken = 1;
        bool complete = shape.length != 0;
        for (int k = 1; complete && k < shape.length; ++k) {
            std::uint8_t low = k == 1 ? shape.secondLow : 0x80;
            std::uint8_t high = k == 1 ? shape.secondHigh : 0xBF;
            if (i + taken >= narrow.size()) {
                complete = false;
                break;
            }
            auto next = static_cast<std::uint8_t>(narrow[i + taken]);
            if (next < low || next > high) {
                complete = false;
                break;
            }
            code = (code << 6) | (next & 0x3F);
            ++taken;
        }
        if (complete) {
            PutUtf16(code, out);
        } else {
            out.push_back(static_cast<char16_t>(kReplacement));
            wellFormed = false;
        }
        i += taken;
    }
    return wellFormed;
}

}  // namespace platform::posix
