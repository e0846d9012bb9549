// RegexObject runs one regular expression over one subject text and hands out
// the matches: their number, the text of each match and of each capture
// group, and on request the byte offset of a match or group in the subject.
//
// Patterns and subjects are GBK `Text`; they are matched as UTF-16 code
// units and results come back as GBK. The dialect follows JavaScript's:
// "." matches any unit but the line feed (a CR included), "\w" is
// [A-Za-z0-9_] only, ignoring case folds ASCII letters, multi-line mode makes
// "^" match after every line feed (a final one too: "^" finds two matches in
// "a\n") and "$" before one, and a global search collects every match left
// to right, stepping one unit on after an empty match. There is no
// single-line mode: "." never crosses a line feed.
//
// Matches and groups are numbered from 1. An index outside the matches or
// groups, and a group that took no part in the match, give the empty text.
// A rejected pattern makes `search` return false; afterwards `match_count` is
// 0 and every text is empty, and `error_code` tells why. Nothing throws.
//
// Each `search` starts afresh: nothing of an earlier call survives.
//
//   RegexObject regex;
//   if (regex.search("traceId\":\".*?\"", page)) {
//       for (int i = 1; i <= regex.match_count(); ++i) use(regex.match_text(i));
//   }
//   regex.search("<meta.+?charset=[^\\w]?([-\\w]+)", head);
//   Text charset = regex.submatch_text(1, 1);  // "gbk" for <meta charset="gbk">
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace notepics {

class RegexObject {
  public:
    RegexObject() = default;
    RegexObject(RegexObject&&) noexcept = default;
    RegexObject& operator=(RegexObject&&) noexcept = default;
    RegexObject(const RegexObject&) = delete;
    RegexObject& operator=(const RegexObject&) = delete;
    ~RegexObject() = default;

    // Compiles `pattern` and runs it over `subject`. With `quote_escape` set,
    // every "#引号" in the pattern stands for a double quote. True when the
    // pattern compiled and ran, even when it found nothing.
    bool search(std::string_view pattern, std::string_view subject, bool case_sensitive = false,
                bool multi_line = true, bool global = true, bool quote_escape = false);

    // The pattern of the last search (after quote escaping); empty before the
    // first search.
    Text pattern_text() const;

    // The subject of the last search with its matches (all of them after a
    // global search, else the first) replaced. In the replacement "$1".."$99"
    // stand for a group, "$&" for the match, "$`" and "$'" for the subject
    // before and after it, "$$" for "$"; anything else is literal.
    // Empty when the last search failed or there was none.
    //   search("(\\w+)@", "ab@ cd@"); replace_matches("<$1>") == "<ab> <cd>"
    Text replace_matches(std::string_view replacement);

    // Number of matches of the last search; 0 when it failed.
    int match_count() const;

    // Text of match i (1-based). When `position` is given, it receives the
    // result of searching the subject, as read back from its UTF-16 units
    // (invalid GBK reads "?" there), for that text with text_find (ignoring
    // case as the search did), from the match's start index in UTF-16 units
    // taken as a 1-based byte position, minus one: the 0-based byte offset
    // for ASCII subjects; -2 when the text is not found. There being no
    // match i gives the empty text searched from index 0: position 0 (-2 in
    // an empty subject). The index counts UTF-16 units while the search
    // counts bytes, so after two-byte characters, or when the text also
    // occurs one byte before the match, the search lands on another
    // occurrence:
    //   search("a", "aa"); match_text(2, &p) -> "a", p == 0
    Text match_text(int i, int* position = nullptr) const;

    // Text of capture group j of match i (both 1-based). When `position` is
    // given, it is computed as for match_text, with the group's text searched
    // from the start index of match i; a group that does not exist or took
    // no part has the empty text, which is found at 1 (position 0) when the
    // searched stretch is not empty.
    //   search("(a)|(b)", "ab"); submatch_text(1, 2, &p) -> "", p == 0
    Text submatch_text(int i, int j, int* position = nullptr) const;

    // The true 0-based byte offset in the subject of capture group j of match
    // i (j == 0: the match itself); -2 when it does not exist or took no part.
    //   search("xy", "\xD6\xD0xy"); match_offset(1) == 2
    int match_offset(int i, int j = 0) const;

    // Number of capture groups of the pattern; 0 when nothing matched.
    int submatch_count() const;

    // Why the last search failed: a positive compile error code for a
    // rejected pattern, a negative match error code for a run that failed,
    // 0 after a successful search or before any. `error_message` gives the
    // English wording of that code (empty for 0).
    int error_code() const { return error_code_; }
    Text error_message() const;

  private:
    // Byte offset in the GBK subject of the UTF-16 unit `unit_offset`.
    int byte_offset(std::size_t unit_offset) const;
    // The position reported for `text`, a match or group text of match i.
    int reported_position(int i, std::string_view text) const;
    // UTF-16 unit range [start, end) of group j of match i (j == 0: whole
    // match); false when it does not exist or took no part.
    bool group_range(int i, int j, std::size_t& start, std::size_t& end) const;
    Text units_to_text(std::size_t start, std::size_t end) const;
    // Text of group j of match i (j == 0: the match), writing `position`.
    Text range_text(int i, int j, int* position) const;
    // Converts `subject` into the units kept, reusing their storage.
    void store_subject(std::string_view subject);
    std::u16string_view subject_units_view() const;
    // The subject as GBK again, made on first use: invalid bytes read "?".
    const Text& subject_read_back() const;

    Text pattern_;
    bool ignore_case_ = false;
    // The subject of the last search as UTF-16 units: `subject_size_` of
    // them in storage for `subject_capacity_`.
    std::unique_ptr<char16_t[]> subject_units_;
    std::size_t subject_size_ = 0;
    std::size_t subject_capacity_ = 0;
    mutable std::optional<Text> subject_read_back_;
    // For every match, (group count + 1) pairs of unit offsets start, end;
    // a group that took no part holds SIZE_MAX in both.
    std::vector<std::size_t> offsets_;
    int group_count_ = 0;
    bool matched_ = false;  // the run succeeded and `offsets_` holds its result
    int error_code_ = 0;
};

}  // namespace notepics
