// Text utilities for a raw header block: lines separated by "\r\n", where a
// header line is a line holding ":" and its name is what stands before the
// first ":". Names compare byte for byte, case-sensitively. Pure functions.
//
//   normalize_header_names("user-agent: x\r\naccept-language: zh-cn\r\n")
//       == "User-Agent: x\r\nAccept-Language: zh-cn"
//   header_value("Connection: keep-alive\r\nAccept: */*", "Connection")
//       == "keep-alive"
#pragma once

#include <string_view>

#include "text/text.h"

namespace notepics {

// The block with every header name capitalised word by word (the first byte
// and each byte right after a "-" in the name, when an ASCII letter a-z, is
// upper-cased; nothing is lower-cased), lines without ":" dropped, and no
// "\r\n" after the last line. Everything from the first ":" on is kept.
//   normalize_header_names("a: 1\r\n\r\nx-time: 10:20-30") == "A: 1\r\nX-Time: 10:20-30"
Text normalize_header_names(std::string_view block);

// The value of the first line that begins with `name` (a prefix match,
// case-sensitive): what follows the last `name` + ": " in that line, or the
// empty text when that line holds none. Empty when no line begins with it.
//   header_value("Connection-Extra: 1\r\nConnection: close", "Connection") == ""
Text header_value(std::string_view block, std::string_view name);

// The word with its first byte upper-cased when it is an ASCII letter a-z.
//   capitalize_first("accept") == "Accept";  capitalize_first("") == ""
Text capitalize_first(std::string_view word);

}  // namespace notepics
