// Cookie texts and the small list routines behind their merging.
//
// A cookie text is a list of pairs separated by "; " (a ";" without a space
// after it separates nothing). A pair's name is what stands before its first
// "=" (the whole pair when there is none), trimmed of spaces 0x20 and A1 A1;
// names compare byte for byte, case-sensitively. A pair ending in
// "=deleted" stands for a cookie the server deleted.
//
//   Text old_cookies = "a=1; b=2", new_cookies = "b=3; c=4";
//   merge_cookies(old_cookies, new_cookies) == "b=3; c=4; a=1"  // also in old_cookies
#pragma once

#include <string_view>

#include "text/text.h"

namespace notepics {

// Merges the cookies a response set (`new_cookies`) into the caller's
// (`old_cookies`): the new pairs in their order, then the old pairs whose
// names the new ones do not set (of several old pairs with one name only
// the first), without "=deleted" pairs and without exact repeats.
// Both arguments are trimmed first and a final ";" dropped; `new_cookies`
// keeps that trimmed form (with "; " for a final ";") and `old_cookies`
// receives the merged text, which is also returned.
//   old "a=1; b=2", new "b=deleted"  ->  "a=1"
Text merge_cookies(Text& old_cookies, Text& new_cookies);

// The pair's trimmed name.   cookie_name(" a =1") == "a";  cookie_name("flag") == "flag"
Text cookie_name(std::string_view pair);

// Whether some pair of `pairs` has the name `name`.
bool has_cookie_name(const TextArray& pairs, std::string_view name);

// The pieces of `text` without repeats, in first-seen order, joined by
// `separator`. The pieces are cut at `separator` when `split_on_separator`
// is set, else they are the characters of `split_chars`.
//   join_unique("a=1; b=2; a=1", "; ", true) == "a=1; b=2"
//   join_unique("abca", ",", false) == "a,b,c"
Text join_unique(std::string_view text, std::string_view separator, bool split_on_separator);

// The characters of `text`: "\r\n" is one unit, a byte of 0x81 or above
// starts a two-byte unit unless it is the last byte, any other byte is a
// unit of its own (0x80 included).
//   split_chars("x\r\ny") == {"x", "\r\n", "y"}
TextArray split_chars(std::string_view text);

// 1-based index of the first element equal to `text`, or -1.
int index_of_text(const TextArray& list, std::string_view text);

}  // namespace notepics
