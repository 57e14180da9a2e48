// Printable bytes that show misplaced or lost ones, different for every seed (no zero bytes: the
// text exports stop there). One definition for every platform's tables.
#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

inline std::string PatternText(std::size_t size, unsigned seed = 0) {
    std::string text(size, ' ');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('!' + (i * 7 + seed * 13 + i / 91) % 90);
    }
    return text;
}

}  // namespace testing_support
