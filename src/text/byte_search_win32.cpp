#include "text/byte_search.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace notepics::detail {

// Candidates are the places where both the needle's first and its last byte
// match, sixteen at a time; each is verified with memcmp. The bit scan of the
// candidate mask takes them in order.
std::size_t find_bytes(std::string_view text, std::string_view needle) {
    const std::size_t m = needle.size();
    if (m == 0) {
        return 0;
    }
    if (text.size() < m) {
        return std::string_view::npos;
    }
    const std::size_t last_start = text.size() - m;
    const char* data = text.data();
    const char first = needle.front();
    const char last = needle.back();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i first_eq = _mm_set1_epi8(first);
    const __m128i last_eq = _mm_set1_epi8(last);
    while (i + 16 <= last_start + 1) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + m - 1));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_and_si128(_mm_cmpeq_epi8(head, first_eq), _mm_cmpeq_epi8(tail, last_eq))));
        while (mask != 0) {
            const std::size_t at = i + static_cast<std::size_t>(std::countr_zero(mask));
            if (std::memcmp(data + at + 1, needle.data() + 1, m - 1) == 0) {
                return at;
            }
            mask &= mask - 1;
        }
        i += 16;
    }
#endif
    for (; i <= last_start; ++i) {
        if (data[i] == first && data[i + m - 1] == last &&
            std::memcmp(data + i, needle.data(), m) == 0) {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace notepics::detail
