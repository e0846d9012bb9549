// Regular-expression object: RegexObject::search with arbitrary patterns,
// subjects and options, then every accessor with arbitrary indices. Checked:
// - nothing fails on any pattern/subject pair: a rejected pattern makes
//   search return false with an error code, no matches and empty texts;
// - pattern_text is the pattern with "#引号" read as a double quote when
//   quote escape is set;
// - matches lie inside the subject, in order, and a non-global search has
//   at most one; the text of a match or group is the subject's bytes at its
//   offset whenever the subject survives the trip through UTF-16;
// - a reported position is -2 or the offset of an occurrence of the text
//   in the subject as read back through UTF-16; a match or group that does
//   not exist has the empty text, found at 1 (position 0) unless the
//   searched stretch is empty (-2);
// - replacing every match by "$&" gives the subject back;
// - the two patterns of the program find only what they describe.
//
// Input: a selector, options and indices from the end; the pattern, the
// replacement, then the subject.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "regex/regex_object.h"
#include "text/codepage.h"

namespace notepics {
namespace {

constexpr std::string_view kQuoteStandIn = "#\xD2\xFD\xBA\xC5";  // "#引号"
constexpr std::string_view kPicturePattern = "traceId\":\".*?\"";
constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

// Matches looked at per input: enough to reach every accessor, bounded so
// that a subject with thousands of matches stays quick.
constexpr int kMatchesChecked = 64;

NOTEPICS_FUZZ_ORACLE Text round_trip(std::string_view text) {
    return utf16_to_ansi(ansi_to_utf16(text));
}

// `read_back` is the subject as read back through UTF-16.
NOTEPICS_FUZZ_ORACLE void check_position(std::string_view read_back, std::string_view text,
                                         int position, bool ignore_case) {
    FUZZ_CHECK(position == -2 || position >= 0);
    if (position >= 0) {
        FUZZ_CHECK(reference::matches_at(read_back, static_cast<std::size_t>(position), text,
                                         ignore_case));
    }
}

// Group j of match i does not exist: empty text, found at 1 unless the
// search starts past the end.
NOTEPICS_FUZZ_ORACLE void check_no_group(const RegexObject& regex, int i, int j) {
    int position = 7;
    FUZZ_CHECK(regex.submatch_text(i, j, &position).empty() && (position == 0 || position == -2));
    FUZZ_CHECK(regex.match_offset(i, j) == -2);
}

// Match i does not exist, nor any of its groups: the search starts at 1.
NOTEPICS_FUZZ_ORACLE void check_out_of_range(const RegexObject& regex, std::string_view read_back,
                                             int i, int j) {
    int position = 7;
    FUZZ_CHECK(regex.match_text(i, &position).empty());
    FUZZ_CHECK(position == (read_back.empty() ? -2 : 0));
    check_no_group(regex, i, j);
}

NOTEPICS_FUZZ_ORACLE void check_matches(const RegexObject& regex, std::string_view subject,
                                        bool ignore_case, bool global, int extra_index) {
    const int count = regex.match_count();
    const int groups = regex.submatch_count();
    FUZZ_CHECK(count >= 0 && groups >= 0);
    FUZZ_CHECK(global || count <= 1);
    FUZZ_CHECK(count > 0 || groups == 0);
    // The text of a match is the subject's bytes at its offset only when the
    // subject converts to UTF-16 and back unchanged (valid GBK, no zero).
    const Text read_back = round_trip(subject);
    const bool exact = subject.find('\0') == std::string_view::npos && read_back == subject;
    int previous_offset = 0;
    for (int i = 1; i <= std::min(count, kMatchesChecked); ++i) {
        for (int j = 0; j <= groups; ++j) {
            int position = 7;
            const Text text =
                j == 0 ? regex.match_text(i, &position) : regex.submatch_text(i, j, &position);
            const int offset = regex.match_offset(i, j);
            FUZZ_CHECK(offset == -2 || (offset >= 0 && offset <= static_cast<int>(subject.size())));
            if (offset == -2) {
                FUZZ_CHECK(j > 0 && text.empty());  // a group that took no part
            }
            check_position(read_back, text, position, ignore_case);
            if (j == 0) {
                FUZZ_CHECK(offset >= previous_offset);
                previous_offset = offset;
            }
            if (exact && offset >= 0) {
                FUZZ_CHECK(subject.substr(static_cast<std::size_t>(offset), text.size()) == text);
            }
        }
    }
    check_out_of_range(regex, read_back, 0, 1);
    check_out_of_range(regex, read_back, count + 1, 0);
    check_out_of_range(regex, read_back, INT_MIN, INT_MIN);
    check_out_of_range(regex, read_back, INT_MAX, 1);
    if (count > 0) {
        check_no_group(regex, 1, groups + 1);
        check_no_group(regex, 1, INT_MAX);
        check_no_group(regex, 1, INT_MIN);
    }
    if (extra_index < 1 || extra_index > count) {
        check_out_of_range(regex, read_back, extra_index, 0);
    }
}

// What the program's own patterns find.
NOTEPICS_FUZZ_ORACLE void check_program_pattern(const RegexObject& regex, std::string_view pattern,
                                                bool exact) {
    const int count = std::min(regex.match_count(), kMatchesChecked);
    for (int i = 1; i <= count; ++i) {
        const Text text = regex.match_text(i);
        FUZZ_CHECK(text.find('\n') == Text::npos);
        if (pattern == kPicturePattern && exact) {
            FUZZ_CHECK(text.size() >= 11 && text.back() == '"');
            FUZZ_CHECK(reference::matches_at(text, 0, "traceid\":\"", true));
        }
        if (pattern == kCharsetPattern) {
            const Text charset = regex.submatch_text(i, 1);
            FUZZ_CHECK(!charset.empty());
            for (const char c : charset) {
                FUZZ_CHECK(c == '-' || c == '_' || (c >= '0' && c <= '9') ||
                           (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
            }
        }
    }
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    const int which = data.ConsumeIntegralInRange(0, 3);
    const bool case_sensitive = data.ConsumeBool();
    const bool multi_line = data.ConsumeBool();
    const bool global = data.ConsumeBool();
    const bool quote_escape = data.ConsumeBool();
    const int extra_index = data.ConsumeIntegral<int>();
    std::string pattern = data.ConsumeRandomLengthString(256);
    const std::string replacement = data.ConsumeRandomLengthString(32);
    const std::string subject = data.ConsumeRemainingBytesAsString();
    if (which == 1) {
        pattern = kPicturePattern;
    } else if (which == 2) {
        pattern = kCharsetPattern;
    }
    const bool program_pattern = which == 1 || which == 2;

    RegexObject regex;
    FUZZ_CHECK(regex.pattern_text().empty() && regex.match_count() == 0);
    const bool ran = program_pattern ? regex.search(pattern, subject)
                                     : regex.search(pattern, subject, case_sensitive, multi_line,
                                                    global, quote_escape);
    const bool escaped = quote_escape && !program_pattern;
    FUZZ_CHECK(regex.pattern_text() ==
               (escaped ? reference::replace(pattern, kQuoteStandIn, "\"", 1, -1, true) : pattern));
    if (program_pattern) {
        FUZZ_CHECK(ran);  // the program's patterns always compile and run
    }
    if (!ran) {
        FUZZ_CHECK(regex.error_code() != 0);
        FUZZ_CHECK(regex.match_count() == 0 && regex.submatch_count() == 0);
        FUZZ_CHECK(regex.replace_matches(replacement).empty());
        check_out_of_range(regex, round_trip(subject), 1, 1);
        return 0;
    }
    FUZZ_CHECK(regex.error_code() == 0 && regex.error_message().empty());
    const bool ignore_case = program_pattern || !case_sensitive;
    check_matches(regex, subject, ignore_case, global || program_pattern, extra_index);
    if (program_pattern) {
        check_program_pattern(
            regex, pattern,
            subject.find('\0') == std::string::npos && round_trip(subject) == subject);
    }
    FUZZ_CHECK(regex.replace_matches("$&") == round_trip(subject));
    const Text replaced = regex.replace_matches(replacement);
    FUZZ_CHECK(replaced.find('\0') == Text::npos);
    return 0;
}
