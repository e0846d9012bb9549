#include "text/markers.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace notepics {
namespace {

// "#引号" in GBK: stands for a double quote inside a text_between marker.
#define QUOTE_STAND_IN "#\xD2\xFD\xBA\xC5"

struct BetweenCase {
    const char* name;
    Text source;
    Text start_marker;
    Text end_marker;
    int start_position;
    bool ignore_case;
    Text expected;
};

TEST(TextBetween, CutsBetweenFirstStartMarkerAndNextEndMarker) {
    const std::vector<BetweenCase> cases = {
        {"tags", "abc<x>def</x>", "<x>", "</x>", 0, false, "def"},
        {"first pair only", "[a][b]", "[", "]", 0, false, "a"},
        {"start marker absent", "abc<x>def", "<y>", ">", 0, false, ""},
        {"end marker absent", "abc<x>def", "<x>", "</x>", 0, false, ""},
        {"end marker only before the start marker", "]x[y", "[", "]", 0, false, ""},
        {"end marker overlapping the start marker", "<x>rest", "<x", "x>", 0, false, ""},
        {"end marker right after the start marker", "[]", "[", "]", 0, false, ""},
        {"start marker ends the source", "abc[", "[", "]", 0, false, ""},
        {"empty end marker", "[a]", "[", "", 0, false, ""},
        {"empty start marker", "ab]c]", "", "]", 0, false, "ab"},
        {"both markers empty", "abc", "", "", 0, false, ""},
        {"empty source", "", "[", "]", 0, false, ""},
        {"empty source, empty markers", "", "", "", 0, false, ""},
        {"share text", "see http://x.y/a, copy", "http://", ",", 0, false, "x.y/a"},
    };
    for (const BetweenCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            text_between(c.source, c.start_marker, c.end_marker, c.start_position, c.ignore_case),
            c.expected);
    }
}

TEST(TextBetween, QuoteStandInMatchesADoubleQuote) {
    const std::vector<BetweenCase> cases = {
        {"in the start marker", "<a href=\"/n/1\">", "href=" QUOTE_STAND_IN, ">", 0, false,
         "/n/1\""},
        {"in both markers", "<a href=\"/n/1\">", "href=" QUOTE_STAND_IN, QUOTE_STAND_IN, 0, false,
         "/n/1"},
        {"twice in one marker", "say \"\"hi\"\"", QUOTE_STAND_IN QUOTE_STAND_IN,
         QUOTE_STAND_IN QUOTE_STAND_IN, 0, false, "hi"},
        {"not the literal bytes", "x" QUOTE_STAND_IN "y\"", QUOTE_STAND_IN, "\"", 0, false, ""},
        // The marker length counts the translated copy: one byte for the quote.
        {"length of the translated marker", "\"abcdef\"", QUOTE_STAND_IN, QUOTE_STAND_IN, 0, false,
         "abcdef"},
    };
    for (const BetweenCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            text_between(c.source, c.start_marker, c.end_marker, c.start_position, c.ignore_case),
            c.expected);
    }
}

TEST(TextBetween, StartPositionAndIgnoreCase) {
    const std::vector<BetweenCase> cases = {
        {"start position skips the first pair", "[a][b]", "[", "]", 2, false, "b"},
        {"start position on the start marker", "[a][b]", "[", "]", 4, false, "b"},
        {"negative start position counts as 1", "[a][b]", "[", "]", -3, false, "a"},
        {"INT_MIN", "[a][b]", "[", "]", INT_MIN, false, "a"},
        {"past the end", "[a][b]", "[", "]", 7, false, ""},
        {"INT_MAX", "[a][b]", "[", "]", INT_MAX, false, ""},
        {"ignore case", "<A HREF=x>", "<a href=", ">", 0, true, "x"},
        {"case-sensitive by default", "<A HREF=x>", "<a href=", ">", 0, false, ""},
        {"ignore case applies to the end marker", "<b>x</B>", "<b>", "</b>", 0, true, "x"},
    };
    for (const BetweenCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            text_between(c.source, c.start_marker, c.end_marker, c.start_position, c.ignore_case),
            c.expected);
    }
}

TEST(TextBetween, MarkersOnlyMatchWhereACharacterBegins) {
    const std::vector<BetweenCase> cases = {
        // "\xB0[" is one character: the first real "[" is the third one.
        {"start marker on a second byte", "\xB0[a][b]", "[", "]", 0, false, "b"},
        {"end marker on a second byte", "[a\xB0]b]", "[", "]", 0, false, "a\xB0]b"},
        {"two-byte markers", "\xA1\xBE\xD6\xD0\xA1\xBF", "\xA1\xBE", "\xA1\xBF", 0, false,
         "\xD6\xD0"},
        {"end marker across a boundary", "[\xB0\xA1\xB0\xA1]", "[", "\xA1\xB0", 0, false, ""},
        {"lone lead byte before the end marker", "[a\xB0", "[", "\xB0", 0, false, "a"},
    };
    for (const BetweenCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(
            text_between(c.source, c.start_marker, c.end_marker, c.start_position, c.ignore_case),
            c.expected);
    }
}

struct SideCase {
    const char* name;
    Text source;
    Text marker;
    int position;
    bool ignore_case;
    Text expected;
};

TEST(TextBefore, PositionPicksTheOccurrence) {
    const std::vector<SideCase> cases = {
        {"default: first occurrence", "a=b=c", "=", 0, false, "a"},
        {"-1: last in the whole source", "a=b=c", "=", -1, false, "a=b"},
        {"-2: last within all but two bytes", "a=b=c", "=", -2, false, "a"},
        {"3: first at or after byte 3", "a=b=c", "=", 3, false, "a=b"},
        {"1 means the first byte", "=b=c", "=", 1, false, ""},
        {"position on the last byte", "a=b=", "=", 4, false, "a=b"},
        {"position beyond the length", "a=b=c", "=", 6, false, ""},
        {"position past the last occurrence", "a=b=c", "=", 5, false, ""},
        {"INT_MAX", "a=b=c", "=", INT_MAX, false, ""},
        {"-L searches nothing", "a=b=c", "=", -5, false, ""},
        {"-3: last within the first two bytes", "a=b=c", "=", -3, false, "a"},
        {"-4: last within the first byte", "a=b=c", "=", -4, false, ""},
        {"backward search excludes a crossing hit", "ab==", "==", -2, false, ""},
        {"INT_MIN", "a=b=c", "=", INT_MIN, false, ""},
        {"marker absent", "abc", "=", 0, false, ""},
        {"marker starts the source", "=abc", "=", 0, false, ""},
        {"header name", "Content-Type: text/html", ":", 0, false, "Content-Type"},
        {"multi-byte marker, last", "k: v: w", ": ", -1, false, "k: v"},
    };
    for (const SideCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_before(c.source, c.marker, c.position, c.ignore_case), c.expected);
    }
}

TEST(TextAfter, PositionPicksTheOccurrence) {
    const std::vector<SideCase> cases = {
        {"default: last occurrence", "a=b=c", "=", 0, false, "c"},
        {"-1: first occurrence", "a=b=c", "=", -1, false, "b=c"},
        {"-3: first at or after byte 3", "a=b=c", "=", -3, false, "c"},
        {"2: last within the first three bytes", "a=b=c", "=", 2, false, "b=c"},
        {"-2: first at or after byte 2", "a=b=c", "=", -2, false, "b=c"},
        {"position L finds nothing", "a=b=c", "=", 5, false, ""},
        {"position L - 1 searches the first byte", "=b=c", "=", 3, false, "b=c"},
        {"position beyond the length", "a=b=c", "=", 6, false, ""},
        {"INT_MAX", "a=b=c", "=", INT_MAX, false, ""},
        {"-3 on the marker itself", "ab=cd", "=", -3, false, "cd"},
        {"-4 just past the marker", "ab=cd", "=", -4, false, ""},
        {"negative beyond the length", "a=b=c", "=", -6, false, ""},
        {"INT_MIN", "a=b=c", "=", INT_MIN, false, ""},
        {"marker ends the source", "ab=", "=", 0, false, ""},
        {"marker absent", "abc", "=", 0, false, ""},
        {"multi-byte marker", "k: v: w", ": ", 0, false, "w"},
        {"multi-byte marker, first", "k: v: w", ": ", -1, false, "v: w"},
        {"header value", "Location: /explore/1", "Location: ", 0, false, "/explore/1"},
    };
    for (const SideCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_after(c.source, c.marker, c.position, c.ignore_case), c.expected);
    }
}

struct BothCase {
    const char* name;
    Text source;
    Text marker;
    bool ignore_case;
    Text before;
    Text after;
};

TEST(TextBeforeAfter, EmptyInputs) {
    const std::vector<BothCase> cases = {
        {"empty source", "", "=", false, "", ""},
        {"empty source, empty marker", "", "", false, "", ""},
        {"empty marker", "abc", "", false, "", "abc"},
    };
    for (const BothCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_before(c.source, c.marker, 0, c.ignore_case), c.before);
        EXPECT_EQ(text_after(c.source, c.marker, 0, c.ignore_case), c.after);
        EXPECT_EQ(text_before(c.source, c.marker, -1, c.ignore_case), c.before);
        EXPECT_EQ(text_after(c.source, c.marker, -1, c.ignore_case), c.after);
    }
}

TEST(TextBeforeAfter, CharacterRuleAndIgnoreCase) {
    const std::vector<BothCase> cases = {
        // "\xB0=" is one character: only the first "=" counts.
        {"marker on a second byte", "a=b\xB0=", "=", false, "a", "b\xB0="},
        {"marker after a two-byte character", "\xD6\xD0=\xCE\xC4", "=", false, "\xD6\xD0",
         "\xCE\xC4"},
        {"ignore case", "xKEYyKeYz", "key", true, "x", "z"},
        {"case-sensitive by default", "xKEYy", "key", false, "", ""},
        {"ignore case on a second byte", "\xB0\x41-", "\xB0\x61", true, "", "-"},
        {"quote stand-in is not translated", "x#\xD2\xFD\xBA\xC5y\"z", QUOTE_STAND_IN, false, "x",
         "y\"z"},
    };
    for (const BothCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_before(c.source, c.marker, 0, c.ignore_case), c.before);
        EXPECT_EQ(text_after(c.source, c.marker, 0, c.ignore_case), c.after);
    }
}

}  // namespace
}  // namespace notepics
