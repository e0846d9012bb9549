#include "text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "text_reference.h"

namespace notepics {
namespace {

// Two-byte characters used throughout (GBK):
//   "\xD6\xD0" 中   "\xCE\xC4" 文   "\xB0\xA1" 啊   "\xA1\xA1" ideographic space
// A byte of 0x80 or above takes the next byte with it, whatever that byte is,
// so "\xB0," is one character and its comma is never a separator.

Text repeat(std::string_view piece, int times) {
    Text out;
    for (int i = 0; i < times; ++i) {
        out.append(piece);
    }
    return out;
}

// ---------------------------------------------------------------------------
// text_find

struct FindCase {
    const char* name;
    Text text;
    Text needle;
    int start;
    bool ignore_case;
    int expected;
};

TEST(TextFind, FollowsTheCharacterWalk) {
    const std::vector<FindCase> cases = {
        {"plain ascii", "a,b", ",", 1, false, 2},
        {"second byte is not a comma", "\xB0,,", ",", 1, false, 3},
        {"needle only across a character boundary", "\xD6\xD0\xCE\xC4", "\xD0\xCE", 1, false, -1},
        {"needle only across a boundary, ascii tail", "\xB0\xA1\xB0x", "\xA1\xB0", 1, false, -1},
        {"aligned occurrence after a misaligned one", "\xB0\xA1\xA1\xB0", "\xA1\xB0", 1, false, 3},
        {"right after a two-byte character", "\xD6\xD0xyz", "x", 1, false, 3},
        {"two-byte needle on a character", "x\xD6\xD0\xCE\xC4", "\xCE\xC4", 1, false, 4},
        {"odd run of high bytes before the hit", "\xB0\xA1\xB0xx", "x", 1, false, 5},
        {"even run of high bytes before the hit", "\xB0\xA1\xB0\xA1x", "x", 1, false, 5},
        {"needle longer than text", "ab", "abc", 1, false, -1},
        {"lone lead byte at the end is found", "ab\xB0", "\xB0", 1, false, 3},
        {"needle ending in the lone lead byte", "ab\xB0", "b\xB0", 1, false, 2},
        {"lone lead byte swallows nothing past the end", "a\xB0", "b", 1, false, -1},
        {"text of one lone lead byte", "\xB0", "\xB0", 1, false, 1},
        {"empty text", "", "a", 1, false, -1},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_find(c.text, c.needle, c.start, c.ignore_case), c.expected);
    }
}

TEST(TextFind, WalkBeginsAtTheStartByte) {
    const std::vector<FindCase> cases = {
        {"start past the first hit", "a=b=c", "=", 3, false, 4},
        {"start on the hit", "a=b=c", "=", 4, false, 4},
        {"start on the last byte", "a=b=c", "c", 5, false, 5},
        // Starting on a second byte makes it the first byte of the walk.
        {"start on a second byte", "\xB0\xA1\xB0x", "\xA1\xB0", 2, false, 2},
        {"start on a second byte, comma", "\xB0,\xB0,", ",", 2, false, 2},
        {"start on a lead byte", "\xB0,\xB0,", ",", 3, false, -1},
        {"start 0 counts as 1", "a=b", "=", 0, false, 2},
        {"negative start counts as 1", "a=b", "=", -7, false, 2},
        {"INT_MIN counts as 1", "a=b", "=", INT_MIN, false, 2},
        {"start just past the end", "a=b", "b", 4, false, -1},
        {"INT_MAX", "a=b", "b", INT_MAX, false, -1},
        {"start past an empty text", "", "", 1, false, -1},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_find(c.text, c.needle, c.start, c.ignore_case), c.expected);
    }
}

TEST(TextFind, EmptyNeedleIsFoundAtOneInANonEmptyStretch) {
    const std::vector<FindCase> cases = {
        {"from the first byte", "abc", "", 1, false, 1},
        {"from the last byte", "abc", "", 3, false, 1},
        {"from below 1", "abc", "", INT_MIN, false, 1},
        {"stretch is empty: past the end", "abc", "", 4, false, -1},
        {"stretch is empty: empty text", "", "", 1, true, -1},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_find(c.text, c.needle, c.start, c.ignore_case), c.expected);
    }
}

TEST(TextFind, IgnoreCaseFoldsAsciiLettersOnly) {
    const std::vector<FindCase> cases = {
        {"upper text, lower needle", "xABc", "abc", 1, true, 2},
        {"same without ignore case", "xABc", "abc", 1, false, -1},
        {"second byte folds", "\xB0\x41", "\xB0\x61", 1, true, 1},
        {"second byte exact without ignore case", "\xB0\x41", "\xB0\x61", 1, false, -1},
        {"letter needle on a second byte is still skipped", "\xB0Kk", "K", 1, true, 3},
        {"brackets differ by 0x20 but are no letters", "x[", "{", 1, true, -1},
        {"at-sign and backquote", "@", "`", 1, true, -1},
        {"middle byte decides", "A{B", "a[b", 1, true, -1},
        {"high bytes never fold", "\xC1", "\xE1", 1, true, -1},
        {"mixed needle", "--\xD6\xD0HtTp", "\xD6\xD0http", 1, true, 3},
        // Long enough for the block-wise filter, with decoys at odd offsets.
        {"long text, hit after many characters",
         repeat("\xB0\xA1", 40) + "\xC1key" + repeat("x", 20) + "kEy", "KeY", 1, true, 105},
        {"long text, only misaligned hits", repeat("\xB0k", 40), "K", 1, true, -1},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_find(c.text, c.needle, c.start, c.ignore_case), c.expected);
    }
}

TEST(TextFind, LongTextsKeepTheCharacterRule) {
    // Misaligned copies of the needle ahead of the aligned one, across more
    // than one 16-byte block and far from the walk's origin.
    const Text high = repeat("\xD6\xD0", 50);
    const std::vector<FindCase> cases = {
        {"misaligned copies everywhere", "\xB0" + repeat("\xA1\xB0", 60) + "\xA1", "\xA1\xB0", 1,
         false, -1},
        {"aligned copy after misaligned ones", "\xB0" + repeat("\xA1\xB0", 60) + "\xA1\xA1\xB0",
         "\xA1\xB0", 1, false, 123},
        {"ascii after a long even run", high + "x", "x", 1, false, 101},
        {"ascii after a long odd run", high + "\xB0xx", "x", 1, false, 103},
        {"start in the middle of a long run", high + "x", "\xD0\xD6", 2, false, 2},
        {"start in the middle, ignore case", high + "Ab", "aB", 51, true, 101},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_find(c.text, c.needle, c.start, c.ignore_case), c.expected);
    }
}

// ---------------------------------------------------------------------------
// text_find_last

TEST(TextFindLast, LastOccurrenceWhollyBeforeStart) {
    const std::vector<FindCase> cases = {
        {"whole text by default", "a=b=c", "=", INT_MAX, false, 4},
        {"start one past the end", "a=b=c", "=", 6, false, 4},
        {"hit ending right before start", "a=b=c", "=", 5, false, 4},
        {"hit at start is outside", "a=b=c", "=", 4, false, 2},
        {"occurrence crossing the stretch end", "abcd", "cd", 4, false, -1},
        {"stretch of one byte", "a=b", "a", 2, false, 1},
        {"start 1 searches nothing", "a=b", "a", 1, false, -1},
        {"start 0", "a=b", "a", 0, false, -1},
        {"INT_MIN", "a=b", "a", INT_MIN, false, -1},
        {"overlapping occurrences", "aaaa", "aa", INT_MAX, false, 3},
        {"empty text", "", "a", INT_MAX, false, -1},
        {"empty needle", "abc", "", INT_MAX, false, 1},
        {"empty needle, empty stretch", "abc", "", 1, false, -1},
        {"empty needle, empty text", "", "", INT_MAX, false, -1},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_find_last(c.text, c.needle, c.start, c.ignore_case), c.expected);
    }
}

TEST(TextFindLast, WalksFromTheFirstByte) {
    const std::vector<FindCase> cases = {
        {"comma inside a character is skipped", "a,\xB0,", ",", INT_MAX, false, 2},
        {"needle across a boundary", "\xB0\xA1\xB0\xA1", "\xA1\xB0", INT_MAX, false, -1},
        {"aligned copy among misaligned ones", "\xB0\xA1\xA1\xB0\xB0\xA1", "\xA1\xB0", INT_MAX,
         false, 3},
        {"stretch ends inside a character", "a\xB0\xA1", "\xB0", 3, false, 2},
        {"lone lead byte at the end", "ab\xB0", "\xB0", INT_MAX, false, 3},
        {"second byte folds", "\xB0\x41-\xB0\x61", "\xB0\x61", INT_MAX, true, 4},
        {"second byte folds, last hit upper", "\xB0\x61-\xB0\x41", "\xB0\x61", INT_MAX, true, 4},
        {"letter on a second byte is skipped", "k\xB0K", "k", INT_MAX, true, 1},
        {"long text", repeat("\xD6\xD0", 30) + "," + repeat("\xB0,", 30), ",", INT_MAX, false, 61},
    };
    for (const FindCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_find_last(c.text, c.needle, c.start, c.ignore_case), c.expected);
    }
}

// ---------------------------------------------------------------------------
// text_replace

struct ReplaceCase {
    const char* name;
    Text text;
    Text old_text;
    Text new_text;
    int start;
    int count;
    bool case_sensitive;
    Text expected;
};

TEST(TextReplace, ReplacesLeftToRightFromStart) {
    const std::vector<ReplaceCase> cases = {
        {"all", "a-b-c", "-", "+", 1, -1, true, "a+b+c"},
        {"any negative count means all", "a-b-c", "-", "+", 1, INT_MIN, true, "a+b+c"},
        {"count 1", "a-b-c", "-", "+", 1, 1, true, "a+b-c"},
        {"count beyond the hits", "a-b-c", "-", "+", 1, INT_MAX, true, "a+b+c"},
        {"count 0 changes nothing", "a-b-c", "-", "+", 1, 0, true, "a-b-c"},
        {"removal by default new text", "a-b-c", "-", "", 1, -1, true, "abc"},
        {"bytes before start are kept", "a-b-c", "-", "+", 3, -1, true, "a-b+c"},
        {"start on the hit", "a-b-c", "-", "+", 4, -1, true, "a-b+c"},
        {"start below 1", "a-b-c", "-", "+", INT_MIN, -1, true, "a+b+c"},
        {"start on the last byte", "a-b-", "-", "+", 4, -1, true, "a-b+"},
        {"start past the end", "a-b-c", "-", "+", 6, -1, true, "a-b-c"},
        {"start INT_MAX", "a-b-c", "-", "+", INT_MAX, -1, true, "a-b-c"},
        {"no overlap", "aaa", "aa", "b", 1, -1, true, "ba"},
        {"new text holding the old", "aba", "a", "aa", 1, -1, true, "aabaa"},
        {"longer and shorter replacement", "<br><br>", "<br>", "\r\n", 1, -1, true, "\r\n\r\n"},
        {"empty old text", "abc", "", "x", 1, -1, true, "abc"},
        {"empty text", "", "a", "x", 1, -1, true, ""},
        {"whole text", "abc", "abc", "", 1, -1, true, ""},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_replace(c.text, c.old_text, c.new_text, c.start, c.count, c.case_sensitive),
                  c.expected);
    }
}

TEST(TextReplace, FollowsTheCharacterWalk) {
    const std::vector<ReplaceCase> cases = {
        {"across a boundary is kept", "\xB0\xA1\xB0\xA1", "\xA1\xB0", "X", 1, -1, true,
         "\xB0\xA1\xB0\xA1"},
        {"after a two-byte character", "\xB0\xA1x", "x", "X", 1, -1, true, "\xB0\xA1X"},
        {"second-byte comma stays", "\xB0,,\xB0,", ",", ";", 1, -1, true, "\xB0,;\xB0,"},
        {"two-byte old text", "\xD6\xD0\xCE\xC4\xD6\xD0", "\xD6\xD0", "z", 1, -1, true,
         "z\xCE\xC4z"},
        {"walk begins at a second-byte start", "\xB0\xA1\xB0x", "\xA1\xB0", "-", 2, -1, true,
         "\xB0-x"},
        {"quote stand-in", "href=#\xD2\xFD\xBA\xC5", "#\xD2\xFD\xBA\xC5", "\"", 1, -1, true,
         "href=\""},
        {"lone lead byte at the end", "a\xB0", "\xB0", "!", 1, -1, true, "a!"},
        // A match ending in a lead byte does not swallow the next byte: the
        // walk resumes right after the replaced bytes.
        {"walk resumes right after a match", "x\xB0x\xB0", "x\xB0", "X", 1, -1, true, "XX"},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_replace(c.text, c.old_text, c.new_text, c.start, c.count, c.case_sensitive),
                  c.expected);
    }
}

TEST(TextReplace, CaseInsensitiveFoldsSecondBytes) {
    const std::vector<ReplaceCase> cases = {
        {"ascii", "aXbxc", "x", "-", 1, -1, false, "a-b-c"},
        {"case-sensitive by default", "aXbxc", "x", "-", 1, -1, true, "aXb-c"},
        {"second bytes", "\xB0\x41\xB0\x61", "\xB0\x61", "Z", 1, -1, false, "ZZ"},
        {"letter on a second byte is skipped", "\xB0Kk", "K", "_", 1, -1, false, "\xB0K_"},
        {"non-letters stay exact", "[{", "[", "_", 1, -1, false, "_{"},
    };
    for (const ReplaceCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_replace(c.text, c.old_text, c.new_text, c.start, c.count, c.case_sensitive),
                  c.expected);
    }
}

// ---------------------------------------------------------------------------
// text_split

struct SplitCase {
    const char* name;
    Text text;
    Text separator;
    TextArray expected;
};

TEST(TextSplit, PiecesBetweenSeparators) {
    const std::vector<SplitCase> cases = {
        {"adjacent and trailing separators", "a,,b,", ",", {"a", "", "b"}},
        {"leading separator", ",a", ",", {"", "a"}},
        {"only a separator", ",", ",", {""}},
        {"two separators", ",,", ",", {"", ""}},
        {"empty text", "", ",", {}},
        {"empty text, empty separator", "", "", {}},
        {"no separator in the text", "abc", ",", {"abc"}},
        {"empty separator", "a,b", "", {"a,b"}},
        {"several bytes", "k: v\r\nx: y\r\n", "\r\n", {"k: v", "x: y"}},
        {"empty lines", "a\r\n\r\nb", "\r\n", {"a", "", "b"}},
        {"separators do not overlap", "a;;;b", ";;", {"a", ";b"}},
        {"cookie pairs", "a=1; b=2; ", "; ", {"a=1", "b=2"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_split(c.text, c.separator), c.expected);
    }
}

TEST(TextSplit, FollowsTheCharacterWalk) {
    const std::vector<SplitCase> cases = {
        {"second-byte comma", "\xB0,\xB0,x", ",", {"\xB0,\xB0,x"}},
        {"after a two-byte character", "\xB0\xA1,b", ",", {"\xB0\xA1", "b"}},
        {"two-byte separator", "x\xA1\xA1y\xA1\xA1", "\xA1\xA1", {"x", "y"}},
        {"two-byte separator across a boundary", "\xB0\xA1\xA1y", "\xA1\xA1", {"\xB0\xA1\xA1y"}},
        {"lone lead byte at the end", "a,\xB0", ",", {"a", "\xB0"}},
        {"lone lead byte before a trailing separator", "a\xB0,", ",", {"a\xB0,"}},
        {"walk resumes right after a separator", "x\xB0x\xB0y", "x\xB0", {"", "", "y"}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_split(c.text, c.separator), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Plain byte counts: head, tail, slice

struct CutCase {
    const char* name;
    Text text;
    int start;  // unused by head and tail
    int n;
    Text expected;
};

TEST(TextHead, FirstNBytes) {
    const std::vector<CutCase> cases = {
        {"within", "abcdef", 0, 2, "ab"},
        {"all", "abc", 0, 3, "abc"},
        {"more than the length", "abc", 0, 4, "abc"},
        {"INT_MAX", "abc", 0, INT_MAX, "abc"},
        {"zero", "abc", 0, 0, ""},
        {"negative", "abc", 0, -1, ""},
        {"INT_MIN", "abc", 0, INT_MIN, ""},
        {"cuts a two-byte character", "\xD6\xD0", 0, 1, "\xD6"},
        {"empty text", "", 0, 5, ""},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_head(c.text, c.n), c.expected);
    }
}

TEST(TextTail, LastNBytes) {
    const std::vector<CutCase> cases = {
        {"within", "abcdef", 0, 2, "ef"},
        {"more than the length", "abc", 0, 4, "abc"},
        {"INT_MAX", "abc", 0, INT_MAX, "abc"},
        {"zero", "abc", 0, 0, ""},
        {"INT_MIN", "abc", 0, INT_MIN, ""},
        {"cuts a two-byte character", "\xD6\xD0", 0, 1, "\xD0"},
        {"empty text", "", 0, 1, ""},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_tail(c.text, c.n), c.expected);
    }
}

TEST(TextSlice, NBytesFromStart) {
    const std::vector<CutCase> cases = {
        {"within", "abcdef", 2, 3, "bcd"},
        {"cut at the end", "abcdef", 5, 10, "ef"},
        {"last byte", "abcdef", 6, 1, "f"},
        {"n INT_MAX", "abcdef", 2, INT_MAX, "bcdef"},
        {"start past the end", "abcdef", 7, 1, ""},
        {"start INT_MAX", "abcdef", INT_MAX, INT_MAX, ""},
        {"start 0", "abcdef", 0, 2, ""},
        {"start INT_MIN", "abcdef", INT_MIN, 2, ""},
        {"n 0", "abcdef", 1, 0, ""},
        {"n negative", "abcdef", 1, -2, ""},
        {"from a second byte", "\xD6\xD0\xCE\xC4", 2, 2, "\xD0\xCE"},
        {"location line", "Location: /x", 11, 2, "/x"},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(text_slice(c.text, c.start, c.n), c.expected);
    }
}

// ---------------------------------------------------------------------------
// Trim, upper, compare, concat, numbers

TEST(TextTrim, DropsSpacesAndIdeographicSpacesAtBothEnds) {
    const std::vector<std::pair<Text, Text>> cases = {
        {"  a b  ", "a b"},
        {"\xA1\xA1x\xA1\xA1", "x"},
        {" \xA1\xA1 \xD6\xD0 \xA1\xA1 ", "\xD6\xD0"},
        {"\ta\r\n", "\ta\r\n"},
        {" \t a \n ", "\t a \n"},
        {"   ", ""},
        {"\xA1\xA1\xA1\xA1", ""},
        {"", ""},
        // The last A1 A1 here is the second byte of B0 A1 and a lone A1: no
        // ideographic space, and the character must not be cut.
        {"\xB0\xA1\xA1", "\xB0\xA1\xA1"},
        {"\xB0\xA1\xA1\xA1", "\xB0\xA1"},
        {"x\xA1", "x\xA1"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(text_trim(text), expected);
    }
}

TEST(TextUpper, ChangesOnlyAsciiLowerCaseLetters) {
    const std::vector<std::pair<Text, Text>> cases = {
        {"abc-XYZ-09", "ABC-XYZ-09"},
        {"`{az}@", "`{AZ}@"},
        {"\xD6\xD0\xE1\xFA", "\xD6\xD0\xE1\xFA"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(text_upper(text), expected);
    }
}

TEST(TextCompare, OrdersBytesUnsigned) {
    struct CompareCase {
        Text a;
        Text b;
        bool case_sensitive;
        int sign;
    };
    const std::vector<CompareCase> cases = {
        {"abc", "abc", true, 0},
        {"", "", true, 0},
        {"abc", "abd", true, -1},
        {"abd", "abc", true, 1},
        {"ab", "abc", true, -1},
        {"abc", "ab", true, 1},
        {"Location: ", "location: ", true, -1},
        {"Location: ", "LOCATION: ", false, 0},
        {"\xB0\x41", "\xB0\x61", false, 0},
        {"[", "{", false, -1},
        {"a", "\xB0", true, -1},
        {"\xFF", "a", false, 1},
    };
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(c.a + " / " + c.b);
        const int result = text_compare(c.a, c.b, c.case_sensitive);
        EXPECT_EQ((result > 0) - (result < 0), c.sign);
    }
}

TEST(TextConcat, JoinsInOrder) {
    EXPECT_EQ(text_concat({}), "");
    EXPECT_EQ(text_concat({"a=1", "; ", "", "\xD6\xD0"}), "a=1; \xD6\xD0");
    EXPECT_EQ(bytes_concat({}), ByteBuffer{});
    EXPECT_EQ(bytes_concat({{1, 0}, {}, {0, 2}}), (ByteBuffer{1, 0, 0, 2}));
}

TEST(IntToText, SignedDecimal) {
    const std::vector<std::pair<long long, Text>> cases = {
        {0, "0"},
        {42, "42"},
        {-42, "-42"},
        {INT_MAX, "2147483647"},
        {INT_MIN, "-2147483648"},
        {LLONG_MIN, "-9223372036854775808"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(int_to_text(value), expected);
    }
}

// ---------------------------------------------------------------------------
// Byte buffers and arrays

TEST(Bytes, ConvertToAndFromText) {
    EXPECT_EQ(text_to_bytes("a\xD6\xD0"), (ByteBuffer{'a', 0xD6, 0xD0}));
    EXPECT_EQ(text_to_bytes(""), ByteBuffer{});
    EXPECT_EQ(bytes_to_text({'a', 'b', 0, 'c'}), "ab");
    EXPECT_EQ(bytes_to_text({0, 'c'}), "");
    EXPECT_EQ(bytes_to_text({'a', 0xB0}), "a\xB0");
    EXPECT_EQ(bytes_to_text({}), "");
}

TEST(Bytes, ZeroBytesAndCopies) {
    EXPECT_EQ(zero_bytes(3), (ByteBuffer{0, 0, 0}));
    EXPECT_EQ(zero_bytes(0), ByteBuffer{});
    EXPECT_EQ(zero_bytes(INT_MIN), ByteBuffer{});

    const std::uint8_t raw[] = {9, 0, 8};
    EXPECT_EQ(bytes_from_address(raw, 3), (ByteBuffer{9, 0, 8}));
    EXPECT_EQ(bytes_from_address(raw, 0), ByteBuffer{});
    EXPECT_EQ(bytes_from_address(raw, -1), ByteBuffer{});
    EXPECT_EQ(bytes_from_address(nullptr, 4), ByteBuffer{});
}

TEST(Bytes, HeadAndSlice) {
    const ByteBuffer b = {1, 2, 0, 4, 5};
    struct BytesCutCase {
        const char* name;
        int start;
        int n;
        ByteBuffer expected;
    };
    const std::vector<BytesCutCase> head_cases = {
        {"within", 0, 2, {1, 2}}, {"past the end", 0, 9, b},   {"INT_MAX", 0, INT_MAX, b},
        {"zero", 0, 0, {}},       {"INT_MIN", 0, INT_MIN, {}},
    };
    for (const BytesCutCase& c : head_cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bytes_head(b, c.n), c.expected);
    }
    const std::vector<BytesCutCase> slice_cases = {
        {"within", 2, 2, {2, 0}},
        {"cut at the end", 4, 9, {4, 5}},
        {"start 0 counts as 1", 0, 2, {1, 2}},
        {"INT_MIN start counts as 1", INT_MIN, 1, {1}},
        {"negative n counts as 0", 2, -3, {}},
        {"n INT_MAX", 3, INT_MAX, {0, 4, 5}},
        {"start past the end", 6, 1, {}},
        {"start INT_MAX", INT_MAX, INT_MAX, {}},
    };
    for (const BytesCutCase& c : slice_cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bytes_slice(b, c.start, c.n), c.expected);
    }
    EXPECT_EQ(bytes_slice({}, 1, 1), ByteBuffer{});
}

TEST(Bytes, LengthsAndEquality) {
    EXPECT_EQ(text_len(""), 0);
    EXPECT_EQ(text_len("\xD6\xD0x"), 3);
    EXPECT_EQ(bytes_len({0, 0}), 2);
    EXPECT_TRUE(bytes_equal({}, {}));
    EXPECT_TRUE(bytes_equal({0, 1}, {0, 1}));
    EXPECT_FALSE(bytes_equal({0, 1}, {0, 1, 0}));
    EXPECT_FALSE(bytes_equal({0, 1}, {0, 2}));
}

TEST(TextArrayAccess, CountsFromOne) {
    TextArray a;
    EXPECT_EQ(array_count(a), 0);
    EXPECT_EQ(array_at(a, 1), "");
    std::string source = "first";
    array_append(a, source);
    array_append(a, "");
    array_append(a, "\xD6\xD0");
    source = "changed";
    EXPECT_EQ(array_count(a), 3);
    const std::vector<std::pair<int, Text>> cases = {
        {1, "first"}, {2, ""}, {3, "\xD6\xD0"}, {0, ""}, {4, ""}, {INT_MIN, ""}, {INT_MAX, ""},
    };
    for (const auto& [index, expected] : cases) {
        SCOPED_TRACE(index);
        EXPECT_EQ(array_at(a, index), expected);
    }
}

// ---------------------------------------------------------------------------
// Differential check of the fast search against a plain character walk.

// Pseudo-random GBK-like texts over a small alphabet, so that needles recur
// often, at both parities, in both cases and after runs of high bytes.
class GbkishGenerator {
  public:
    explicit GbkishGenerator(std::uint32_t seed) : engine_(seed) {}

    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(engine_() % n); }

    Text text(std::size_t length) {
        static constexpr std::string_view kAlphabet =
            "aAbBkK,; [{"
            "\xA1\xA1\xB0\xB0\xD6\xD0\x81\xFE\x80\xC1\xE1";
        Text out;
        for (std::size_t i = 0; i < length; ++i) {
            out.push_back(kAlphabet[below(static_cast<std::uint32_t>(kAlphabet.size()))]);
        }
        return out;
    }

    // Mostly pieces of the text itself (so that hits are common), sometimes
    // with flipped letter case, sometimes fresh or empty.
    Text needle(std::string_view text) {
        const std::uint32_t kind = below(10);
        if (kind == 0) {
            return {};
        }
        if (kind <= 2 || text.empty()) {
            return this->text(1 + below(3));
        }
        const std::size_t at = below(static_cast<std::uint32_t>(text.size()));
        Text piece(text.substr(at, 1 + below(5)));
        if (kind <= 4) {
            for (char& c : piece) {
                if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z' && below(2) == 0) {
                    c = static_cast<char>(c ^ 0x20);
                }
            }
        }
        return piece;
    }

    int position(std::size_t length) {
        switch (below(12)) {
            case 0:
                return INT_MIN;
            case 1:
                return INT_MAX;
            default:
                return static_cast<int>(below(static_cast<std::uint32_t>(length) + 6)) - 2;
        }
    }

    std::size_t length() {
        // Mostly short texts, some long enough for several 16-byte blocks.
        return below(4) == 0 ? below(400) : below(48);
    }

  private:
    std::mt19937 engine_;
};

TEST(TextSearchDifferential, MatchesAPlainCharacterWalk) {
    GbkishGenerator gen(20240229);
    const Text replacements[] = {"", "X", "\xD6\xD0", "aa", "\xB0"};
    for (int round = 0; round < 4000; ++round) {
        const Text text = gen.text(gen.length());
        const Text needle = gen.needle(text);
        const int start = gen.position(text.size());
        const bool ignore_case = gen.below(2) == 0;
        const Text& new_text = replacements[gen.below(5)];
        const int count = static_cast<int>(gen.below(5)) - 1;
        SCOPED_TRACE(testing::Message()
                     << "round " << round << " text " << testing::PrintToString(text) << " needle "
                     << testing::PrintToString(needle) << " start " << start << " ignore_case "
                     << ignore_case);

        ASSERT_EQ(text_find(text, needle, start, ignore_case),
                  reference::find(text, needle, start, ignore_case));
        ASSERT_EQ(text_find_last(text, needle, start, ignore_case),
                  reference::find_last(text, needle, start, ignore_case));
        ASSERT_EQ(text_find_last(text, needle, INT_MAX, ignore_case),
                  reference::find_last(text, needle, INT_MAX, ignore_case));
        ASSERT_EQ(text_replace(text, needle, new_text, start, count, !ignore_case),
                  reference::replace(text, needle, new_text, start, count, !ignore_case))
            << "new " << testing::PrintToString(new_text) << " count " << count;
        ASSERT_EQ(text_split(text, needle), reference::split(text, needle));
    }
}

// Texts full of overlapping, misaligned or nearly matching occurrences of a
// long needle: the search gives up verifying candidates one by one and
// switches to its linear scan part-way, resuming it across calls. The
// results must not change at the switch.
TEST(TextSearchDifferential, RepetitiveTextsMatchAPlainCharacterWalk) {
    const auto repeat = [](std::string_view unit, std::size_t times) {
        Text out;
        for (std::size_t i = 0; i < times; ++i) {
            out.append(unit);
        }
        return out;
    };
    struct Case {
        Text text;
        Text needle;
        bool ignore_case;
    };
    const Case cases[] = {
        // Occurrences only off character starts.
        {repeat("\xB0\xA1", 3000), repeat("\xA1\xB0", 250), false},
        // ... then one on a character start.
        {repeat("\xB0\xA1", 3000) + "x" + repeat("\xA1\xB0", 250), repeat("\xA1\xB0", 250), false},
        // Overlapping occurrences at every byte.
        {repeat("a", 6000), repeat("a", 500), false},
        {repeat("aA", 3000), repeat("Aa", 250), true},
        // Near misses at every byte, then a hit.
        {repeat("a", 6000) + "Ba", repeat("a", 500) + "bA", true},
        {repeat("a", 6000) + "ba", repeat("a", 500) + "ba", false},
        // A period of odd length: character starts alternate with it.
        {repeat("ab\xD6", 2000), repeat("ab\xD6", 170), false},
        {repeat("aB\xD6", 2000), repeat("Ab\xD6", 170) + "a", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "text of " << c.text.size() << " bytes, needle of " << c.needle.size()
                     << " bytes, ignore case " << c.ignore_case);
        const int middle = static_cast<int>(c.text.size() / 2);
        for (const int start : {1, 2, middle, middle + 1}) {
            EXPECT_EQ(text_find(c.text, c.needle, start, c.ignore_case),
                      reference::find(c.text, c.needle, start, c.ignore_case))
                << "start " << start;
        }
        for (const int start : {INT_MAX, middle}) {
            EXPECT_EQ(text_find_last(c.text, c.needle, start, c.ignore_case),
                      reference::find_last(c.text, c.needle, start, c.ignore_case))
                << "start " << start;
        }
        EXPECT_EQ(text_replace(c.text, c.needle, "|", 1, -1, !c.ignore_case),
                  reference::replace(c.text, c.needle, "|", 1, -1, !c.ignore_case));
        EXPECT_EQ(text_replace(c.text, c.needle, "|", 2, 3, !c.ignore_case),
                  reference::replace(c.text, c.needle, "|", 2, 3, !c.ignore_case));
        if (!c.ignore_case) {
            EXPECT_EQ(text_split(c.text, c.needle), reference::split(c.text, c.needle));
        }
    }
}

}  // namespace
}  // namespace notepics
