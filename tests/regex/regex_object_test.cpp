#include "regex/regex_object.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "text/codepage.h"

namespace notepics {
namespace {

// The program's two patterns: picture identifiers and the charset of a page.
constexpr std::string_view kPicturePattern = "traceId\":\".*?\"";
constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

std::vector<Text> all_matches(const RegexObject& regex) {
    std::vector<Text> texts;
    for (int i = 1; i <= regex.match_count(); ++i) {
        texts.push_back(regex.match_text(i));
    }
    return texts;
}

struct MatchCase {
    const char* name;
    std::string_view subject;
    std::vector<Text> matches;
};

TEST(RegexObjectPicturePattern, FindsEveryIdentifierLikeThePage) {
    const MatchCase cases[] = {
        {"two ids",
         R"({"traceId":"abc","x":1,"traceId":"def"})",
         {R"(traceId":"abc")", R"(traceId":"def")"}},
        {"upper and mixed case",
         R"(TRACEID":"A1" TraceId":"b2")",
         {R"(TRACEID":"A1")", R"(TraceId":"b2")"}},
        {"empty value", R"(traceId":"")", {R"(traceId":"")"}},
        {"stops at the nearest quote", R"(traceId":"a"b")", {R"(traceId":"a")"}},
        {"does not cross a line feed",
         "traceId\":\"ab\ncd\" traceId\":\"ef\"",
         {"traceId\":\"ef\""}},
        {"crosses a CR", "traceId\":\"a\rb\"", {"traceId\":\"a\rb\""}},
        // 中文 in GBK.
        {"CJK value", "\xD6\xD0traceId\":\"\xD6\xD0\xCE\xC4\"", {"traceId\":\"\xD6\xD0\xCE\xC4\""}},
        {"no identifier", "trace Id\":\"x\" traceId:\"x\"", {}},
        {"unclosed value", "traceId\":\"abc", {}},
        {"empty subject", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.search(kPicturePattern, c.subject));
        EXPECT_EQ(all_matches(regex), c.matches);
        EXPECT_EQ(regex.match_text(regex.match_count() + 1), "");
    }
}

struct CharsetCase {
    const char* name;
    std::string_view head;
    Text charset;  // submatch_text(1, 1); empty when nothing matched
};

TEST(RegexObjectCharsetPattern, TakesTheCharsetValue) {
    const CharsetCase cases[] = {
        {"quoted value loses its opening quote", R"(<meta charset="gbk">)", "gbk"},
        {"single quotes", "<meta charset='big5'>", "big5"},
        {"content type", R"(<meta http-equiv="Content-Type" content="text/html; charset=utf-8">)",
         "utf-8"},
        {"upper case, unquoted", "<META CHARSET=GB2312>", "GB2312"},
        {"CJK before it", "<meta name=\"\xD6\xD0\xCE\xC4\" charset=\"gb18030\">", "gb18030"},
        {"line feed inside the tag", "<meta\ncharset=\"x\">", ""},
        {"empty value", R"(<meta charset="">)", ""},
        {"no meta tag", "<html charset=\"gbk\">", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.search(kCharsetPattern, c.head));
        EXPECT_EQ(regex.submatch_text(1, 1), c.charset);
        EXPECT_EQ(regex.match_count(), c.charset.empty() ? 0 : 1);
        EXPECT_EQ(regex.submatch_count(), c.charset.empty() ? 0 : 1);
    }
}

struct DialectCase {
    const char* name;
    std::string_view pattern;
    std::string_view subject;
    bool case_sensitive;
    bool multi_line;
    bool global;
    std::vector<Text> matches;
};

TEST(RegexObjectDialect, BehavesLikeAScriptEngine) {
    const DialectCase cases[] = {
        {"dot takes CR but not LF", "a.b", "a\rb a\nb", false, true, true, {"a\rb"}},
        {"\\w is ASCII", "\\w+", "ab\xD6\xD0xy\xA8\xA6_9", false, true, true, {"ab", "xy", "_9"}},
        {"[^\\w] takes a CJK character", "[^\\w]", "a\xD6\xD0", false, true, true, {"\xD6\xD0"}},
        {"ignore case by default", "abc", "ABC abc", false, true, true, {"ABC", "abc"}},
        {"case-sensitive", "abc", "ABC abc", true, true, true, {"abc"}},
        // α against Αα.
        {"ASCII-only folding", "\xA6\xC1", "\xA6\xA1\xA6\xC1", false, true, true, {"\xA6\xC1"}},
        {"multi-line ^", "^b", "a\nb", false, true, true, {"b"}},
        {"single-line ^", "^b", "a\nb", false, false, true, {}},
        {"single-line $ only at the very end", "a$", "a\n", false, false, true, {}},
        {"multi-line $ before a line feed", "a$", "a\na", false, true, true, {"a", "a"}},
        {"only a line feed ends a line", "a$", "a\r\n", false, true, true, {}},
        {"multi-line ^ after a final line feed", "^", "a\n", false, true, true, {"", ""}},
        {"multi-line ^ on empty lines", "^\\w*", "a\n\nb\n", false, true, true, {"a", "", "b", ""}},
        {"single-line ^ only at the start", "^", "a\n", false, false, true, {""}},
        {"not global: first match only", "a", "aaa", false, true, false, {"a"}},
        {"empty matches step one unit", "x*", "ab", false, true, true, {"", "", ""}},
        {"empty match after a match", "a*", "baa", false, true, true, {"", "aa", ""}},
        {"empty pattern", "", "ab", false, true, true, {"", "", ""}},
        {"\\u escape", "\\u4E2D", "\xD6\xD0", false, true, true, {"\xD6\xD0"}},
        {"backreference to an unset group", "(a)?\\1b", "b", false, true, true, {"b"}},
        {"empty class matches nothing", "a[]", "a[]", false, true, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.search(c.pattern, c.subject, c.case_sensitive, c.multi_line, c.global));
        EXPECT_EQ(all_matches(regex), c.matches);
    }
}

TEST(RegexObject, RejectedPatternLeavesNothing) {
    for (const std::string_view pattern : {"(", "a[", "*a", "a{2,1}", "(*UTF)a"}) {
        SCOPED_TRACE(pattern);
        RegexObject regex;
        ASSERT_TRUE(regex.search("a", "a"));
        EXPECT_FALSE(regex.search(pattern, "aaa"));
        EXPECT_EQ(regex.match_count(), 0);
        EXPECT_EQ(regex.match_text(1), "");
        EXPECT_EQ(regex.submatch_text(1, 1), "");
        EXPECT_EQ(regex.submatch_count(), 0);
        EXPECT_EQ(regex.replace_matches("x"), "");
        EXPECT_EQ(regex.pattern_text(), pattern);
        EXPECT_GT(regex.error_code(), 0);
        EXPECT_NE(regex.error_message(), "");
    }
}

TEST(RegexObject, FreshObjectHasNothing) {
    RegexObject regex;
    EXPECT_EQ(regex.pattern_text(), "");
    EXPECT_EQ(regex.match_count(), 0);
    EXPECT_EQ(regex.match_text(1), "");
    EXPECT_EQ(regex.submatch_count(), 0);
    EXPECT_EQ(regex.replace_matches("x"), "");
    EXPECT_EQ(regex.error_code(), 0);
    EXPECT_EQ(regex.error_message(), "");
}

TEST(RegexObject, IndexesOutsideMatchesAndGroupsGiveEmptyText) {
    RegexObject regex;
    ASSERT_TRUE(regex.search("(a)|(b)", "xab"));
    ASSERT_EQ(regex.match_count(), 2);
    EXPECT_EQ(regex.submatch_count(), 2);
    // The empty text is found at 1 wherever the search starts inside the
    // subject, so the position of every empty result is 0.
    struct Index {
        int i;
        int j;
        Text text;
        int position;
    };
    const Index indexes[] = {
        {1, 1, "a", 1}, {1, 2, "", 0},  // group 2 took no part in match 1
        {2, 1, "", 0},  {2, 2, "b", 2}, {0, 1, "", 0}, {3, 1, "", 0},
        {-1, 1, "", 0}, {1, 0, "", 0},  {1, 3, "", 0}, {1, -1, "", 0},
    };
    for (const auto& index : indexes) {
        SCOPED_TRACE(testing::Message() << index.i << "," << index.j);
        int position = 99;
        EXPECT_EQ(regex.submatch_text(index.i, index.j, &position), index.text);
        EXPECT_EQ(position, index.position);
    }
    for (const int i : {0, 3, -1, 1 << 30}) {
        int position = 99;
        EXPECT_EQ(regex.match_text(i, &position), "");
        EXPECT_EQ(position, 0);
    }

    // In an empty subject, and before any search, the empty text is not found.
    ASSERT_TRUE(regex.search("(a)|(b)", ""));
    int position = 99;
    EXPECT_EQ(regex.match_text(1, &position), "");
    EXPECT_EQ(position, -2);
    RegexObject fresh;
    EXPECT_EQ(fresh.submatch_text(1, 1, &position), "");
    EXPECT_EQ(position, -2);
}

TEST(RegexObject, QuoteEscapeStandsForADoubleQuote) {
    // "#引号" in GBK.
    const std::string_view pattern = "id=#\xD2\xFD\xBA\xC5(\\w+)#\xD2\xFD\xBA\xC5";
    RegexObject regex;
    ASSERT_TRUE(regex.search(pattern, R"(id="x1")", false, true, true, true));
    EXPECT_EQ(regex.pattern_text(), R"x(id="(\w+)")x");
    EXPECT_EQ(regex.submatch_text(1, 1), "x1");

    ASSERT_TRUE(regex.search(pattern, R"(id="x1")"));
    EXPECT_EQ(regex.pattern_text(), pattern);
    EXPECT_EQ(regex.match_count(), 0);
}

TEST(RegexObject, EachSearchStartsAfresh) {
    RegexObject regex;
    ASSERT_TRUE(regex.search("(a)(b)", "ab ab"));
    ASSERT_TRUE(regex.search("A", "a A", true, true, false));
    EXPECT_EQ(all_matches(regex), std::vector<Text>{"A"});
    EXPECT_EQ(regex.submatch_count(), 0);
    EXPECT_EQ(regex.replace_matches("-"), "a -");
}

struct PositionCase {
    const char* name;
    std::string_view pattern;
    std::string_view subject;
    std::vector<int> reported_positions;  // through match_text's out-parameter
    std::vector<int> true_offsets;        // through match_offset
};

TEST(RegexObject, PositionSearchesFromTheUnitIndexTakenAsBytePosition) {
    const PositionCase cases[] = {
        {"ASCII", "ab", "xab ab", {1, 4}, {1, 4}},
        // The second match's index 1, read as byte 1, finds the first "a".
        {"repeated text", "a", "aa", {0, 0}, {0, 1}},
        // 中中xy xy: the first "xy" has unit index 2; a walk from byte 2 pairs
        // the second 中's trail byte with "x" and lands on the second "xy".
        {"after CJK text", "xy", "\xD6\xD0\xD6\xD0xy xy", {7, 4}, {4, 7}},
        {"empty matches", "x*", "\xD6\xD0", {0, 0}, {0, 2}},
        {"ignore case", "ab", "AB ab", {0, 3}, {0, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.search(c.pattern, c.subject));
        std::vector<int> positions;
        std::vector<int> offsets;
        for (int i = 1; i <= regex.match_count(); ++i) {
            int position = -99;
            regex.match_text(i, &position);
            positions.push_back(position);
            offsets.push_back(regex.match_offset(i));
        }
        EXPECT_EQ(positions, c.reported_positions);
        EXPECT_EQ(offsets, c.true_offsets);
    }

    RegexObject regex;
    ASSERT_TRUE(regex.search("=(\\w+)", "\xD6\xD0=abc \xD6\xD0=d"));
    int position = -99;
    EXPECT_EQ(regex.submatch_text(2, 1, &position), "d");
    EXPECT_EQ(position, 10);
    EXPECT_EQ(regex.match_offset(2, 1), 10);
    EXPECT_EQ(regex.match_offset(2, 2), -2);
    EXPECT_EQ(regex.match_offset(3), -2);
}

TEST(RegexObject, PositionLooksInTheSubjectAsReadBackFromUtf16) {
    // The lead byte 81 before "0" is invalid GBK: read back from UTF-16 the
    // subject is "?00", where the first "0" stands at byte 2. A walk over the
    // original bytes would take 81 30 as one character and find byte 3.
    RegexObject regex;
    ASSERT_TRUE(regex.search("0",
                             "\x81"
                             "00"));
    ASSERT_EQ(regex.match_count(), 2);
    std::vector<int> positions;
    for (int i = 1; i <= 2; ++i) {
        int position = -99;
        EXPECT_EQ(regex.match_text(i, &position), "0");
        positions.push_back(position);
    }
    EXPECT_EQ(positions, (std::vector<int>{1, 1}));
    EXPECT_EQ(regex.match_offset(1), 1);
}

struct ReplaceCase {
    const char* name;
    std::string_view pattern;
    std::string_view subject;
    bool global;
    std::string_view replacement;
    Text result;
};

TEST(RegexObject, ReplaceMatchesUsesScriptReplacementSyntax) {
    const ReplaceCase cases[] = {
        {"group", "(\\w+)@", "ab@ cd@", true, "<$1>", "<ab> <cd>"},
        {"first match only", "(\\w+)@", "ab@ cd@", false, "<$1>", "<ab> cd@"},
        {"whole match", "b+", "abbc", true, "[$&$&]", "a[bbbb]c"},
        {"before and after", "b", "abc", true, "[$`|$']", "a[a|c]c"},
        {"dollar", "b", "abc", true, "$$1", "a$1c"},
        {"no such group stays literal", "(b)", "abc", true, "$2$0$", "a$2$0$c"},
        {"one digit when two name no group", "(b)", "abc", true, "$10", "ab0c"},
        {"two digits", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)", "abcdefghijk", true, "$11$01", "ka"},
        {"unset group gives nothing", "(x)?b", "abc", true, "[$1]", "a[]c"},
        {"other escapes stay literal", "b", "abc", true, "$a\\1", "a$a\\1c"},
        {"no match", "z", "abc", true, "x", "abc"},
        {"empty matches", "x*", "ab", true, "-", "-a-b-"},
        {"line starts, the last after a final line feed", "^", "a\nb\n", true, "-", "-a\n-b\n-"},
        {"line start of an empty subject", "^", "", true, "-", "-"},
        // 中 replaced by 文.
        {"CJK", "\\u4E2D", "x\xD6\xD0y", true, "\xCE\xC4", "x\xCE\xC4y"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RegexObject regex;
        ASSERT_TRUE(regex.search(c.pattern, c.subject, false, true, c.global));
        EXPECT_EQ(regex.replace_matches(c.replacement), c.result);
    }
}

TEST(RegexObject, GrowsTheMatchStackForLargeSubjects) {
    // Each repetition of the group leaves a backtracking point behind, far
    // more than the default stack holds.
    Text subject;
    for (int i = 0; i < 200000; ++i) {
        subject += "ab";
    }
    subject += 'c';
    RegexObject regex;
    ASSERT_TRUE(regex.search("(a|b)*c", subject)) << regex.error_message();
    ASSERT_EQ(regex.match_count(), 1);
    EXPECT_EQ(regex.submatch_text(1, 1), "b");
    EXPECT_EQ(text_len(regex.match_text(1)), text_len(subject));
}

TEST(RegexObject, IsMoveOnly) {
    static_assert(!std::is_copy_constructible_v<RegexObject>);
    static_assert(!std::is_copy_assignable_v<RegexObject>);
    static_assert(std::is_nothrow_move_constructible_v<RegexObject>);

    RegexObject first;
    ASSERT_TRUE(first.search("b(\\w)", "ba bc"));
    RegexObject second = std::move(first);
    EXPECT_EQ(second.match_count(), 2);
    EXPECT_EQ(second.submatch_text(2, 1), "c");
    first = std::move(second);
    EXPECT_EQ(first.match_text(1), "ba");
}

// The same two patterns under node's RegExp with the flags "gim", over
// generated subjects: see generate_fixture.js for the file format.
class ScriptRegExpFixture {
  public:
    struct Record {
        int pattern_id;
        std::vector<std::uint16_t> subject;
        std::string matches;
    };
    struct ReplaceRecord {
        int pattern_id;
        std::vector<std::uint16_t> subject;
        std::vector<std::uint16_t> replacement;
        std::vector<std::uint16_t> result;
    };

    explicit ScriptRegExpFixture(const std::string& file) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string kind;
            std::string id;
            std::string hex;
            std::getline(fields, kind, '\t');
            std::getline(fields, id, '\t');
            std::getline(fields, hex, '\t');
            if (kind == "pattern") {
                patterns[std::stoi(id)] = units_from_hex(hex);
            } else if (kind == "subject") {
                Record record{std::stoi(id), units_from_hex(hex), {}};
                std::getline(fields, record.matches, '\t');
                records.push_back(std::move(record));
            } else if (kind == "replace") {
                std::string replacement;
                std::string result;
                std::getline(fields, replacement, '\t');
                std::getline(fields, result, '\t');
                replaces.push_back({std::stoi(id), units_from_hex(hex), units_from_hex(replacement),
                                    units_from_hex(result)});
            }
        }
    }

    static std::vector<std::uint16_t> units_from_hex(const std::string& hex) {
        std::vector<std::uint16_t> units;
        for (std::size_t i = 0; i + 4 <= hex.size(); i += 4) {
            units.push_back(static_cast<std::uint16_t>(std::stoul(hex.substr(i, 4), nullptr, 16)));
        }
        return units;
    }

    std::map<int, std::vector<std::uint16_t>> patterns;
    std::vector<Record> records;
    std::vector<ReplaceRecord> replaces;
};

Text units_to_text(const std::vector<std::uint16_t>& units, std::size_t start, std::size_t end) {
    ByteBuffer bytes;
    for (std::size_t i = start; i < end; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(units[i] & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(units[i] >> 8));
    }
    return utf16_to_ansi(bytes);
}

// What RegexObject found, in the fixture's "start-end/start-end;..." form,
// with offsets turned back from bytes into UTF-16 units of `units`.
std::string describe(const RegexObject& regex, const Text& subject) {
    // Byte offset -> unit offset, from the GBK width of each character.
    std::map<int, int> unit_at_byte;
    const ByteBuffer wide = ansi_to_utf16(subject, true);
    int byte = 0;
    for (std::size_t unit = 0; unit <= wide.size() / 2; ++unit) {
        unit_at_byte[byte] = static_cast<int>(unit);
        if (unit < wide.size() / 2) {
            const ByteBuffer one{wide[2 * unit], wide[2 * unit + 1]};
            byte += text_len(utf16_to_ansi(one));
        }
    }
    const auto range = [&](const Text& text, int position) {
        return std::to_string(unit_at_byte.at(position)) + "-" +
               std::to_string(unit_at_byte.at(position + text_len(text)));
    };
    std::string out;
    for (int i = 1; i <= regex.match_count(); ++i) {
        const Text match = regex.match_text(i);
        out += (i > 1 ? ";" : "") + range(match, regex.match_offset(i));
        for (int j = 1; j <= regex.submatch_count(); ++j) {
            const Text group = regex.submatch_text(i, j);
            const int offset = regex.match_offset(i, j);
            out += "/" + (offset == -2 ? std::string("-") : range(group, offset));
        }
    }
    return out.empty() ? "none" : out;
}

// The fixture's third pattern: "^" in multi-line mode, with a group.
constexpr std::string_view kLineStartPattern = "^(\\w*)";

Text whole_text(const std::vector<std::uint16_t>& units) {
    return units_to_text(units, 0, units.size());
}

TEST(RegexObjectScriptRegExp, AgreesWithNodeOnGeneratedSubjects) {
    const ScriptRegExpFixture fixture(NOTEPICS_TEST_DATA_DIR "/script_regexp_matches.txt");
    ASSERT_EQ(fixture.patterns.size(), 3u);
    ASSERT_EQ(whole_text(fixture.patterns.at(0)), kPicturePattern);
    ASSERT_EQ(whole_text(fixture.patterns.at(1)), kCharsetPattern);
    ASSERT_EQ(whole_text(fixture.patterns.at(2)), kLineStartPattern);
    ASSERT_GE(fixture.records.size(), 800u);

    int with_matches = 0;
    for (const auto& record : fixture.records) {
        const Text subject = units_to_text(record.subject, 0, record.subject.size());
        SCOPED_TRACE(testing::Message()
                     << "pattern " << record.pattern_id << ", subject \"" << subject << "\"");
        // Every generated character must survive the trip through GBK.
        const ByteBuffer back = ansi_to_utf16(subject, true);
        ASSERT_EQ(back.size(), record.subject.size() * 2);

        RegexObject regex;
        ASSERT_TRUE(regex.search(whole_text(fixture.patterns.at(record.pattern_id)), subject));
        EXPECT_EQ(describe(regex, subject), record.matches);
        with_matches += record.matches != "none";
    }
    EXPECT_GT(with_matches, 100);
}

TEST(RegexObjectScriptRegExp, ReplacesLikeNodeOnGeneratedSubjects) {
    const ScriptRegExpFixture fixture(NOTEPICS_TEST_DATA_DIR "/script_regexp_matches.txt");
    ASSERT_GE(fixture.replaces.size(), 100u);
    int after_final_line_feed = 0;
    for (const auto& record : fixture.replaces) {
        const Text subject = whole_text(record.subject);
        SCOPED_TRACE(testing::Message() << "subject \"" << subject << "\", replacement \""
                                        << whole_text(record.replacement) << "\"");
        RegexObject regex;
        ASSERT_TRUE(regex.search(whole_text(fixture.patterns.at(record.pattern_id)), subject));
        EXPECT_EQ(regex.replace_matches(whole_text(record.replacement)), whole_text(record.result));
        after_final_line_feed += !subject.empty() && subject.back() == '\n';
    }
    EXPECT_GT(after_final_line_feed, 5);
}

}  // namespace
}  // namespace notepics
