// Text, byte-buffer and array primitives shared by every part of notepics.
//
// `Text` holds GBK (code page 936) bytes and never a zero byte. Lengths and
// positions count bytes; positions are 1-based and a failed search gives -1.
// A byte of 0x80 or above starts a two-byte character: find, find-last,
// replace and split step over such a character whole and never match from
// its second byte. Head, tail and slice count plain bytes.
//
// Every routine is total: any bytes and any int argument (negative, zero,
// past the end, INT_MAX) give the stated result or an empty one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace notepics {

using Text = std::string;                      // GBK bytes, no zero byte
using ByteBuffer = std::vector<std::uint8_t>;  // any bytes
using TextArray = std::vector<Text>;           // numbered from 1 by its accessors

// Byte counts.
int text_len(std::string_view text);
int bytes_len(const ByteBuffer& b);

// The parts joined in order: text_concat({"ab", "c"}) == "abc".
Text text_concat(std::initializer_list<std::string_view> parts);
ByteBuffer bytes_concat(std::initializer_list<ByteBuffer> parts);

// 0 when equal, negative when `a` sorts first, positive otherwise (bytes as
// unsigned). Not case-sensitive: ASCII letters compare folded.
int text_compare(std::string_view a, std::string_view b, bool case_sensitive = true);

// First occurrence of `needle` starting at byte `start` or later (start < 1
// counts as 1). The character walk begins at byte `start` itself. An empty
// needle is found at 1 when the searched stretch is not empty. Ignoring case
// folds ASCII letters wherever they stand, second bytes included.
//   text_find("a,b", ",") == 2;  text_find("\xD6\x2C,", ",") == 3
int text_find(std::string_view text, std::string_view needle, int start = 1,
              bool ignore_case = false);

// Last occurrence lying wholly in bytes 1 .. start - 1 (the whole text by
// default); nothing is found when start - 1 <= 0.
//   text_find_last("a=b=c", "=") == 4;  text_find_last("a=b=c", "=", 4) == 2
int text_find_last(std::string_view text, std::string_view needle,
                   int start = std::numeric_limits<int>::max(), bool ignore_case = false);

// First / last n bytes; all when n exceeds the length, empty when n <= 0.
Text text_head(std::string_view text, int n);
Text text_tail(std::string_view text, int n);

// n bytes from byte `start`, cut at the end; empty when start < 1,
// start > length or n <= 0.   text_slice("abcdef", 2, 3) == "bcd"
Text text_slice(std::string_view text, int start, int n);

// Replaces occurrences of `old_text` left to right without overlap, from
// byte `start` on (bytes before it are kept), at most `count` times
// (negative: all). Unchanged when text or old_text is empty, start > length
// or count == 0.   text_replace("a-b-c", "-", "+", 1, 1) == "a+b-c"
Text text_replace(std::string_view text, std::string_view old_text, std::string_view new_text = "",
                  int start = 1, int count = -1, bool case_sensitive = true);

// Pieces between separators. An empty text gives no piece; an empty or
// absent separator gives one piece; adjacent separators an empty piece; a
// leading separator an empty first piece; a trailing one no piece.
//   text_split("a,,b,", ",") == {"a", "", "b"}
TextArray text_split(std::string_view text, std::string_view separator);

// Drops leading and trailing spaces (0x20) and ideographic spaces (A1 A1);
// tab, CR and LF stay.
Text text_trim(std::string_view text);

// a-z to A-Z, every other byte (second bytes included) unchanged.
Text text_upper(std::string_view text);

// Signed decimal: int_to_text(-42) == "-42".
Text int_to_text(long long value);

// The bytes of a text, and a text of the bytes before the first zero byte.
ByteBuffer text_to_bytes(std::string_view text);
Text bytes_to_text(const ByteBuffer& bytes);

// n zero bytes (empty when n <= 0); a copy of n bytes at `address` (empty
// when n <= 0 or address is null).
ByteBuffer zero_bytes(int n);
ByteBuffer bytes_from_address(const void* address, int n);

// First n bytes, as text_head.
ByteBuffer bytes_head(const ByteBuffer& b, int n);

// n bytes from `start`; start < 1 counts as 1, n < 0 as 0; cut at the end.
ByteBuffer bytes_slice(const ByteBuffer& b, int start, int n);

// Equal length and bytes.
bool bytes_equal(const ByteBuffer& a, const ByteBuffer& b);

// Element count, and element i counted from 1 (empty outside 1 .. count).
int array_count(const TextArray& a);
Text array_at(const TextArray& a, int i);

// Appends a copy of `text`.
void array_append(TextArray& a, std::string_view text);

}  // namespace notepics
