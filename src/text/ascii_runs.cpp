#include "text/ascii_runs.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define NOTEPICS_X86_VECTORS 1
#endif

namespace notepics {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

std::size_t widen_portable(const char* bytes, std::size_t count, char16_t* out) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + i, 8);
        if ((word & kHighBits) != 0) {
            break;
        }
        for (std::size_t k = 0; k < 8; ++k) {
            out[i + k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[i + k]));
        }
    }
    for (; i < count && static_cast<unsigned char>(bytes[i]) < 0x80; ++i) {
        out[i] = static_cast<char16_t>(bytes[i]);
    }
    return i;
}

std::size_t narrow_portable(const char16_t* units, std::size_t count, char* out) {
    std::size_t i = 0;
    for (; i < count && units[i] < 0x80; ++i) {
        out[i] = static_cast<char>(units[i]);
    }
    return i;
}

#if NOTEPICS_X86_VECTORS

// SSE2 is part of every x86-64 processor.
std::size_t widen_sse2(const char* bytes, std::size_t count, char16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        // Widened whole: the units past the run are scratch.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(block, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(block, zero));
        const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
        if (high != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(high));
        }
    }
    return i + widen_portable(bytes + i, count - i, out + i);
}

std::size_t narrow_sse2(const char16_t* units, std::size_t count, char* out) {
    const __m128i non_ascii = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
        const __m128i high = _mm_and_si128(_mm_or_si128(first, second), non_ascii);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, zero)) != 0xFFFF) {
            break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(first, second));
    }
    return i + narrow_portable(units + i, count - i, out + i);
}

__attribute__((target("avx2"))) std::size_t widen_avx2(const char* bytes, std::size_t count,
                                                       char16_t* out) {
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i low = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(block));
        const __m256i high = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(block, 1));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 16), high);
        const auto non_ascii = static_cast<unsigned>(_mm256_movemask_epi8(block));
        if (non_ascii != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(non_ascii));
        }
    }
    return i + widen_sse2(bytes + i, count - i, out + i);
}

__attribute__((target("avx2"))) std::size_t narrow_avx2(const char16_t* units, std::size_t count,
                                                        char* out) {
    const __m256i non_ascii = _mm256_set1_epi16(static_cast<short>(0xFF80));
    std::size_t i = 0;
    for (; i + 32 <= count; i += 32) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + 16));
        const __m256i high = _mm256_and_si256(_mm256_or_si256(first, second), non_ascii);
        if (!_mm256_testz_si256(high, high)) {
            break;
        }
        // packus works per 128-bit lane; the permute puts the lanes in order.
        const __m256i packed = _mm256_packus_epi16(first, second);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    return i + narrow_sse2(units + i, count - i, out + i);
}

bool has_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

#endif

using Widen = std::size_t (*)(const char*, std::size_t, char16_t*);
using Narrow = std::size_t (*)(const char16_t*, std::size_t, char*);

Widen widen_with(AsciiVectors vectors) {
#if NOTEPICS_X86_VECTORS
    switch (vectors) {
        case AsciiVectors::avx2:
            return widen_avx2;
        case AsciiVectors::sse2:
            return widen_sse2;
        case AsciiVectors::portable:
            break;
    }
#else
    static_cast<void>(vectors);
#endif
    return widen_portable;
}

Narrow narrow_with(AsciiVectors vectors) {
#if NOTEPICS_X86_VECTORS
    switch (vectors) {
        case AsciiVectors::avx2:
            return narrow_avx2;
        case AsciiVectors::sse2:
            return narrow_sse2;
        case AsciiVectors::portable:
            break;
    }
#else
    static_cast<void>(vectors);
#endif
    return narrow_portable;
}

AsciiVectors widest_available() {
    return ascii_vectors_available(AsciiVectors::avx2)   ? AsciiVectors::avx2
           : ascii_vectors_available(AsciiVectors::sse2) ? AsciiVectors::sse2
                                                         : AsciiVectors::portable;
}

}  // namespace

bool ascii_vectors_available(AsciiVectors vectors) {
    switch (vectors) {
        case AsciiVectors::portable:
            return true;
#if NOTEPICS_X86_VECTORS
        case AsciiVectors::sse2:
            return true;
        case AsciiVectors::avx2:
            return has_avx2();
#else
        default:
            return false;
#endif
    }
    return false;
}

std::size_t widen_ascii(const char* bytes, std::size_t count, char16_t* out) {
    static const Widen widen = widen_with(widest_available());
    return widen(bytes, count, out);
}

std::size_t narrow_ascii(const char16_t* units, std::size_t count, char* out) {
    static const Narrow narrow = narrow_with(widest_available());
    return narrow(units, count, out);
}

std::size_t widen_ascii(const char* bytes, std::size_t count, char16_t* out, AsciiVectors vectors) {
    return ascii_vectors_available(vectors) ? widen_with(vectors)(bytes, count, out) : 0;
}

std::size_t narrow_ascii(const char16_t* units, std::size_t count, char* out,
                         AsciiVectors vectors) {
    return ascii_vectors_available(vectors) ? narrow_with(vectors)(units, count, out) : 0;
}

}  // namespace notepics
