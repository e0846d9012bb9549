// Cutting a piece out of a text by marker texts. Pure functions: a miss
// yields the empty text, and the markers are never part of a result. Every
// search follows the character rule of text_find / text_find_last.
#pragma once

#include <string_view>

#include "text/text.h"

namespace notepics {

// What lies between the first `start_marker` found from `start_position`
// and the next `end_marker` after it. In both markers "#引号" (GBK 23 D2 FD
// BA C5) stands for a double quote. An empty start marker matches at byte 1;
// an empty end marker gives the empty text.
//   text_between("abc<x>def</x>", "<x>", "</x>") == "def"
Text text_between(std::string_view source, std::string_view start_marker,
                  std::string_view end_marker, int start_position = 0, bool ignore_case = false);

// What lies left of `marker`. position >= 0: the first occurrence at or
// after that byte; position < 0: the last occurrence within the first
// L - |position| bytes (-1 counts as 0).
//   text_before("a=b=c", "=") == "a";  text_before("a=b=c", "=", -1) == "a=b"
Text text_before(std::string_view source, std::string_view marker, int position = 0,
                 bool ignore_case = false);

// What lies right of `marker`. position >= 0: the last occurrence within the
// first L - position bytes; position < 0: the first occurrence at or after
// byte |position| (-1 counts as 0).
//   text_after("a=b=c", "=") == "c";  text_after("a=b=c", "=", -1) == "b=c"
Text text_after(std::string_view source, std::string_view marker, int position = 0,
                bool ignore_case = false);

}  // namespace notepics
