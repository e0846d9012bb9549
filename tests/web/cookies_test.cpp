#include "web/cookies.h"

#include <gtest/gtest.h>

namespace notepics {
namespace {

struct MergeCase {
    const char* name;
    std::string_view old_cookies;
    std::string_view new_cookies;
    Text merged;
};

TEST(MergeCookies, ResponseCookiesReplaceAndLead) {
    const MergeCase cases[] = {
        {"replace by name", "a=1; b=2", "b=3; c=4", "b=3; c=4; a=1"},
        {"deleted cookie disappears", "a=1; b=2", "b=deleted", "a=1"},
        {"empty new text", "a=1", "", "a=1"},
        {"empty old text", "", "a=1", "a=1"},
        {"both empty", "", "", ""},
        {"first old pair of a name wins", "a=1; a=2", "", "a=1"},
        {"new pairs of one name all stay", "", "a=1; a=2", "a=1; a=2"},
        {"exact repeats dropped", "x=1", "a=1; a=1", "a=1; x=1"},
        {"final semicolons and spaces vanish", "a=1;", "b=2; ", "b=2; a=1"},
        {"semicolon without space splits nothing", "a=1;b=2", "b=3", "b=3; a=1;b=2"},
        {"names are case-sensitive", "A=1", "a=2", "a=2; A=1"},
        {"names are trimmed", " a =1", "a=5", "a=5"},
        {"ideographic spaces trimmed", "\xA1\xA1x=1\xA1\xA1", "y=2", "y=2; x=1"},
        {"tab is no space", "\ta=1", "a=2", "a=2; \ta=1"},
        {"pair without =", "flag", "flag=1", "flag=1"},
        {"undeleted survives", "", "x=undeleted", "x=undeleted"},
        {"deleted after another =", "", "a=b=deleted", ""},
        {"deleted pair of a new name", "a=1", "z=deleted", "a=1"},
        {"every pair dropped", "a=1", "a=deleted", ""},
        {"a bare =deleted is dropped", "", "=deleted", ""},
        {"values are opaque", "s=\xD6\xD0; t=\"q; r\"", "u=1", "u=1; s=\xD6\xD0; t=\"q; r\""},
        {"empty pair between separators", "a=1; ; b=2", "", "a=1; ; b=2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Text old_cookies(c.old_cookies);
        Text new_cookies(c.new_cookies);
        const Text merged = merge_cookies(old_cookies, new_cookies);
        EXPECT_EQ(merged, c.merged);
        EXPECT_EQ(old_cookies, merged);
    }
}

TEST(MergeCookies, LeavesTheNewTextTrimmed) {
    const struct {
        std::string_view before;
        Text after;
    } cases[] = {
        {"b=2;", "b=2; "},
        {" b=2 ", "b=2"},
        {"\xA1\xA1 b=2;\xA1\xA1", "b=2; "},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.before);
        Text old_cookies = "a=1";
        Text new_cookies(c.before);
        merge_cookies(old_cookies, new_cookies);
        EXPECT_EQ(new_cookies, c.after);
    }
}

TEST(CookieName, TrimmedTextBeforeTheFirstEquals) {
    const struct {
        std::string_view pair;
        Text name;
    } cases[] = {
        {"a=1", "a"},
        {" a =1", "a"},
        {"a=b=c", "a"},
        {"flag", "flag"},
        {" flag ", "flag"},
        {"=1", ""},
        {"", ""},
        {"\ta=1", "\ta"},
        // "=" as the second byte of a character (D6 3D) does not end the name.
        {"\xD6=x=1", "\xD6=x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pair);
        EXPECT_EQ(cookie_name(c.pair), c.name);
    }
}

TEST(HasCookieName, ComparesTrimmedNamesExactly) {
    const TextArray pairs = {"a=1", " B =2", "flag"};
    EXPECT_TRUE(has_cookie_name(pairs, "a"));
    EXPECT_TRUE(has_cookie_name(pairs, "B"));
    EXPECT_TRUE(has_cookie_name(pairs, "flag"));
    EXPECT_FALSE(has_cookie_name(pairs, "b"));
    EXPECT_FALSE(has_cookie_name(pairs, "A"));
    EXPECT_FALSE(has_cookie_name(pairs, ""));
    EXPECT_FALSE(has_cookie_name({}, "a"));
}

TEST(JoinUnique, KeepsFirstSeenOrder) {
    const struct {
        std::string_view text;
        std::string_view separator;
        bool split_on_separator;
        Text joined;
    } cases[] = {
        {"a=1; b=2; a=1", "; ", true, "a=1; b=2"},
        {"abca", ",", false, "a,b,c"},
        {"b; a; b; a", "; ", true, "b; a"},
        {"a; ; b; ", "; ", true, "a; ; b"},
        {"", "; ", true, ""},
        {"", ",", false, ""},
        {"aa", "", false, "a"},
        {"x\r\nx\r\n", "|", false, "x|\r\n"},
        {"\xD6\xD0\xD6\xD0z", "", false, "\xD6\xD0z"},
        {"a,b", "", true, "a,b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(join_unique(c.text, c.separator, c.split_on_separator), c.joined);
    }
}

TEST(SplitChars, CutsCharactersWithItsOwnLeadByteRule) {
    const struct {
        std::string_view text;
        TextArray units;
    } cases[] = {
        {"x\r\ny", {"x", "\r\n", "y"}},
        {"\rx", {"\r", "x"}},
        {"x\r", {"x", "\r"}},
        {"\n\r", {"\n", "\r"}},
        {"\xD6\xD0z", {"\xD6\xD0", "z"}},
        {"a\x81", {"a", "\x81"}},
        {"\x81\x0D\x0A", {"\x81\x0D", "\x0A"}},
        // 0x80 is no lead byte here (unlike in the search primitives).
        {"\x80z", {"\x80", "z"}},
        {"\xFF\xFF\xFF", {"\xFF\xFF", "\xFF"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(split_chars(c.text), c.units);
    }
}

TEST(IndexOfText, FirstEqualElement) {
    const TextArray list = {"a", "b", "b", ""};
    EXPECT_EQ(index_of_text(list, "b"), 2);
    EXPECT_EQ(index_of_text(list, "a"), 1);
    EXPECT_EQ(index_of_text(list, "c"), -1);
    EXPECT_EQ(index_of_text(list, "B"), -1);
    EXPECT_EQ(index_of_text(list, ""), 4);
    EXPECT_EQ(index_of_text({}, ""), -1);
}

TEST(MergeCookies, LargeListsKeepTheirOrder) {
    // Names 0..N-1 in the old text, N/2..3N/2-1 in the new one.
    constexpr int kPairs = 10000;
    Text old_cookies;
    Text new_cookies;
    Text expected;
    for (int i = 0; i < kPairs; ++i) {
        old_cookies += "o" + std::to_string(i) + "=" + std::to_string(i) + "; ";
    }
    for (int i = kPairs / 2; i < kPairs + kPairs / 2; ++i) {
        new_cookies += "o" + std::to_string(i) + "=n; ";
        expected += "o" + std::to_string(i) + "=n; ";
    }
    for (int i = 0; i < kPairs / 2; ++i) {
        expected += "o" + std::to_string(i) + "=" + std::to_string(i) + "; ";
    }
    expected.resize(expected.size() - 2);
    EXPECT_EQ(merge_cookies(old_cookies, new_cookies), expected);
}

}  // namespace
}  // namespace notepics
