#include "web/headers.h"

#include <gtest/gtest.h>

namespace notepics {
namespace {

struct RewriteCase {
    std::string_view input;
    Text output;
};

TEST(NormalizeHeaderNames, CapitalisesNamesAndKeepsTheRest) {
    const RewriteCase cases[] = {
        {"user-agent: x\r\naccept-language: zh-cn\r\n", "User-Agent: x\r\nAccept-Language: zh-cn"},
        {"CONTENT-TYPE: a", "CONTENT-TYPE: a"},
        {"content-TYPE: a", "Content-TYPE: a"},
        {"x-time: 10:20-30", "X-Time: 10:20-30"},
        {"accept:*/*", "Accept:*/*"},
        {"a-: 1", "A-: 1"},
        {"a--b: 1", "A--B: 1"},
        {"-a: 1", "-A: 1"},
        {": x", ": x"},
        {"1-x: y", "1-X: y"},
        {"  x-y : z", "  x-Y : z"},
        // A "-" right after a lead byte (D6 2D) is the second byte of a
        // character and separates nothing; the one after it does.
        {"\xD6-x-y: 1", "\xD6-x-Y: 1"},
        {"\xD6\xD0-x: 1", "\xD6\xD0-X: 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(normalize_header_names(c.input), c.output);
    }
}

TEST(NormalizeHeaderNames, DropsLinesWithoutColon) {
    const RewriteCase cases[] = {
        {"a: 1\r\n\r\nb: 2", "A: 1\r\nB: 2"},
        {"HTTP/1.1 200 OK\r\nhost: h\r\n folded\r\n", "Host: h"},
        {"no colon\r\n\r\n", ""},
        {"", ""},
        {"\r\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(normalize_header_names(c.input), c.output);
    }
}

struct ValueCase {
    std::string_view block;
    std::string_view name;
    Text value;
};

TEST(HeaderValue, FirstLineBeginningWithTheNameDecides) {
    const ValueCase cases[] = {
        {"Connection: keep-alive\r\nAccept: */*", "Connection", "keep-alive"},
        {"Accept: */*\r\nConnection: close\r\n", "Connection", "close"},
        {"Connection-Extra: 1\r\nConnection: close", "Connection", ""},
        {"connection: close", "Connection", ""},
        {"CONNECTION: close", "Connection", ""},
        {"Connection:close", "Connection", ""},
        {"A: x A: y", "A", "y"},
        {"Conn", "Connection", ""},
        {"Connection: ", "Connection", ""},
        {"", "Connection", ""},
        {"X: \xD6\xD0\xCE\xC4", "X", "\xD6\xD0\xCE\xC4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        EXPECT_EQ(header_value(c.block, c.name), c.value);
    }
}

TEST(HeaderValue, FindsTheNameAfterNormalisation) {
    EXPECT_EQ(header_value(normalize_header_names("connection: close"), "Connection"), "close");
    EXPECT_EQ(header_value(normalize_header_names("CONNECTION: close"), "Connection"), "");
}

TEST(CapitalizeFirst, UpperCasesOnlyAnAsciiFirstLetter) {
    const RewriteCase cases[] = {
        {"accept", "Accept"}, {"aCCEPT", "ACCEPT"},     {"1a", "1a"}, {"", ""},
        {"z", "Z"},           {"\xE1\x61", "\xE1\x61"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(capitalize_first(c.input), c.output);
    }
}

}  // namespace
}  // namespace notepics
