// The part of the code-page routines that needs no converter; the
// conversions themselves are in codepage_icu.cpp (ICU) and
// codepage_win32.cpp (the system's converters).
#include "text/codepage.h"

namespace notepics {

ByteBuffer cut_utf16_at_nul(const ByteBuffer& bytes, bool keep_terminator) {
    if (bytes.size() < 2) {
        return {};
    }
    std::size_t end = 0;
    while (end + 2 <= bytes.size() && (bytes[end] != 0 || bytes[end + 1] != 0)) {
        end += 2;
    }
    if (end == 0) {
        return {};
    }
    ByteBuffer result(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
    if (keep_terminator) {
        result.push_back(0);
        result.push_back(0);
    }
    return result;
}

}  // namespace notepics
