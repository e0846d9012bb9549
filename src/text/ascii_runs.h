// Copying runs of ASCII between bytes and UTF-16 code units, many at a time.
//
// Both routines copy from the start of their input while the characters are
// ASCII (below 0x80) and stop at the first that is not, or at the end; they
// return how many they copied. The widest vector instructions the processor
// offers are chosen once, at first use (AVX2, SSE2, or a portable loop).
// They may write scratch values past the copied run, up to `count` units or
// bytes of the output, which must have room for that many.
//
//   char16_t out[4];
//   widen_ascii("ab\xD6\xD0", 4, out) == 2   // out starts u"ab"
#pragma once

#include <cstddef>

namespace notepics {

// Widens the leading ASCII bytes of `bytes[0, count)` to units in `out`.
std::size_t widen_ascii(const char* bytes, std::size_t count, char16_t* out);

// Narrows the leading ASCII units of `units[0, count)` to bytes in `out`.
std::size_t narrow_ascii(const char16_t* units, std::size_t count, char* out);

// The same with a given instruction set, so that each can be checked on a
// processor that has a wider one. Only when `ascii_vectors_available`.
enum class AsciiVectors { portable, sse2, avx2 };
bool ascii_vectors_available(AsciiVectors vectors);
std::size_t widen_ascii(const char* bytes, std::size_t count, char16_t* out, AsciiVectors vectors);
std::size_t narrow_ascii(const char16_t* units, std::size_t count, char* out, AsciiVectors vectors);

}  // namespace notepics
