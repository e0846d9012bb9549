// The plain byte search under text_find: the first place a needle occurs in
// a text, byte for byte, with no regard to characters. Each platform has its
// own (byte_search_posix.cpp: the C library's memmem; byte_search_win32.cpp:
// a vector filter on the needle's first and last bytes).
//
//   find_bytes("abcabc", "ca") == 2;  find_bytes("abc", "x") == npos
#pragma once

#include <cstddef>
#include <string_view>

namespace notepics::detail {

// Offset of the first occurrence of `needle` in `text`; 0 for an empty
// needle; std::string_view::npos when there is none.
std::size_t find_bytes(std::string_view text, std::string_view needle);

}  // namespace notepics::detail
