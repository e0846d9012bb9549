// The request's header block and the reading of a response head, without a
// socket.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/request_headers.h"
#include "web/response_head.h"
#include "web/web_request.h"

namespace notepics {
namespace {

const std::string kUserAgent =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";
const std::string kAccept = "Accept: text/html, application/xhtml+xml, */*";
const std::string kRest =
    "Accept-Encoding: identity\r\nAccept-Language: zh-cn\r\nCache-Control: no-cache";
const std::string kDefaults = kUserAgent + "\r\n" + kAccept + "\r\n" + kRest;

struct BlockCase {
    const char* name;
    WebRequestParams params;
    Text block;
};

TEST(RequestHeaderBlock, AddsDefaultsNormalisesAndAppendsCookies) {
    const BlockCase cases[] = {
        {"defaults only, no final line break", {}, kDefaults},
        {"POST puts the form type before Cache-Control",
         {.method = 1},
         kUserAgent + "\r\n" + kAccept +
             "\r\nAccept-Encoding: identity\r\nAccept-Language: zh-cn\r\n"
             "Content-Type: application/x-www-form-urlencoded\r\nCache-Control: no-cache"},
        {"method 9 sends no form type", {.method = 9}, kDefaults},
        {"method -1 sends no form type", {.method = -1}, kDefaults},
        {"a lower-case accept replaces the default and is renamed",
         {.request_headers = "accept: text/plain"},
         "Accept: text/plain\r\n" + kUserAgent + "\r\n" + kRest},
        {"a name ending in Accept hides the default too",
         {.request_headers = "X-Accept: 1"},
         "X-Accept: 1\r\n" + kUserAgent + "\r\n" + kRest},
        {"the form type probe needs no blank",
         {.method = 1, .request_headers = "content-type:text/plain"},
         "Content-Type:text/plain\r\n" + kDefaults},
        {"keep-alive before the defaults is removed",
         {.request_headers = "Connection: keep-alive"},
         kDefaults},
        {"keep-alive as the last line stays",
         {.request_headers = "connection: keep-alive", .add_default_headers = false},
         "Connection: keep-alive"},
        {"another Connection value stays",
         {.request_headers = "Connection: close"},
         "Connection: close\r\n" + kDefaults},
        {"cookie pairs get a Cookie line",
         {.request_cookies = "a=1; b=2"},
         kDefaults + "\r\nCookie: a=1; b=2\r\n"},
        {"a whole cookie line goes as it is",
         {.request_cookies = "cookie: a=1"},
         kDefaults + "\r\ncookie: a=1\r\n"},
        {"a cookie line in the headers keeps the cookies out",
         {.request_cookies = "a=1", .request_headers = "COOKIE: mine=1"},
         "COOKIE: mine=1\r\n" + kDefaults},
        {"without normalisation the block keeps its line breaks",
         {.request_cookies = "a=1", .add_default_headers = false, .normalize_headers = false},
         "\r\nCookie: a=1\r\n"},
        {"without normalisation lines are kept as written",
         {.request_headers = "x-a: 1\r\nno colon", .normalize_headers = false},
         "x-a: 1\r\nno colon\r\n" + kDefaults + "\r\n"},
        {"nothing at all", {.add_default_headers = false}, ""},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(request_header_block(c.params), c.block);
    }
}

struct LinesCase {
    const char* name;
    std::string_view block;
    std::vector<std::string> lines;
};

TEST(ClientHeaderLines, PassesHeaderLinesAndStopsTheClientsOwn) {
    const LinesCase cases[] = {
        {"empty block", "", {"Accept:", "Content-Type:", "Expect:", "Proxy-Connection:"}},
        {"lines and an empty value",
         "Accept: */*\r\nX-Empty: \r\n\r\nX-A: 1",
         {"Accept: */*", "X-Empty;", "X-A: 1", "Content-Type:", "Expect:", "Proxy-Connection:"}},
        {"names in any case count",
         "accept: a\r\nCONTENT-TYPE: b\r\nexpect: c\r\nProxy-connection: d",
         {"accept: a", "CONTENT-TYPE: b", "expect: c", "Proxy-connection: d"}},
        {"a longer name is another header",
         "X-Accept: 1\r\nAccept : 2",
         {"X-Accept: 1", "Accept : 2", "Accept:", "Content-Type:", "Expect:", "Proxy-Connection:"}},
        {"no name, no colon and stray line ends are left out",
         ": x\r\nno colon\r\nA: 1\rB: 2\r\nC: 3\nD: 4\r\nE: 5",
         {"E: 5", "Accept:", "Content-Type:", "Expect:", "Proxy-Connection:"}},
    };
    for (const LinesCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(client_header_lines(c.block), c.lines);
    }
}

TEST(ResponseHeadCollector, KeepsTheFinalHeadWithCrLfLineEnds) {
    ResponseHeadCollector collector;
    EXPECT_FALSE(collector.received_any());
    for (std::string_view line :
         {"HTTP/1.1 100 Continue\r\n", "X-Interim: 1\r\n", "\r\n", "HTTP/1.1 103 Early Hints\n",
          "\n", "HTTP/1.1 404 Not Found\n", "X-A: 1\r\n", "\n", "X-Trailer: 1\r\n", "\r\n"}) {
        collector.add_line(line);
    }
    EXPECT_TRUE(collector.complete());
    EXPECT_EQ(collector.status_code(), 404);
    EXPECT_EQ(collector.head(), "HTTP/1.1 404 Not Found\r\nX-A: 1\r\n\r\n");
}

TEST(ResponseHeadCollector, IsIncompleteUntilTheFinalEmptyLine) {
    ResponseHeadCollector collector;
    collector.add_line("HTTP/1.1 100 Continue\r\n");
    collector.add_line("\r\n");
    collector.add_line("HTTP/1.1 200 OK\r\n");
    EXPECT_TRUE(collector.received_any());
    EXPECT_FALSE(collector.complete());
    EXPECT_EQ(collector.status_code(), 0);
    EXPECT_EQ(collector.head(), "");
}

TEST(StatusCodeOf, ReadsThreeDigitsAfterTheFirstBlank) {
    const std::pair<std::string_view, int> cases[] = {
        {"HTTP/1.1 302 Found", 302},
        {"HTTP/1.0 200", 200},
        {"HTTP/1.1 2xx", 0},
        {"HTTP/1.1", 0},
        {"", 0},
    };
    for (const auto& [line, code] : cases) {
        SCOPED_TRACE(line);
        EXPECT_EQ(status_code_of(line), code);
    }
}

struct HeadCase {
    const char* name;
    std::string head;
    WebRequestParams before;
    Text status_text;
    Text response_cookies;
    Text location;
};

TEST(ApplyResponseHead, ReadsStatusCookiesAndLocation) {
    const HeadCase cases[] = {
        {"cookies with and without attributes",
         "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Path=/\r\nSet-Cookie: b=2\r\n\r\n",
         {},
         "200 OK",
         "a=1; b=2",
         ""},
        {"set-cookie in lower case is not a cookie; location in lower case is a target",
         "HTTP/1.1 302 Found\r\nset-cookie: x=1\r\nlocation: /next\r\n\r\n",
         {},
         "302 Found",
         "",
         "/next"},
        {"Location: without its blank is not taken",
         "HTTP/1.1 302 Found\r\nLocation:/next\r\n\r\n",
         {.location = "kept"},
         "302 Found",
         "",
         "kept"},
        {"an empty Location gives an empty target",
         "HTTP/1.1 302 Found\r\nLocation: \r\n\r\n",
         {.location = "kept"},
         "302 Found",
         "",
         ""},
        {"the last Location wins",
         "HTTP/1.1 301 Moved\r\nLocation: /a\r\nLOCATION: /b\r\n\r\n",
         {},
         "301 Moved",
         "",
         "/b"},
        {"new cookies follow the old text directly",
         "HTTP/1.1 200 OK\r\nSet-Cookie: n=1\r\n\r\n",
         {.response_cookies = "old=0"},
         "200 OK",
         "old=0n=1",
         ""},
        {"every Set-Cookie: text of a line without ';' goes, in any case",
         "HTTP/1.1 200 OK\r\nSet-Cookie: SET-COOKIE:y=2 \r\n\r\n",
         {},
         "200 OK",
         "y=2",
         ""},
        {"an empty cookie value still adds a separator",
         "HTTP/1.1 200 OK\r\nSet-Cookie: ;x\r\nSet-Cookie: c=3\r\n\r\n",
         {},
         "200 OK",
         "; c=3",
         ""},
        {"a status line of HTTP/1.0",
         "HTTP/1.0 404 Not Found\r\n\r\n",
         {.status_text = "713"},
         "404 Not Found",
         "",
         ""},
        {"a head without a line break after byte 10 has no status text",
         "HTTP/1.1 200 OK",
         {.status_text = "old"},
         "",
         "",
         ""},
    };
    for (const HeadCase& c : cases) {
        SCOPED_TRACE(c.name);
        WebRequestParams p = c.before;
        apply_response_head(c.head, p);
        EXPECT_EQ(p.response_headers, c.head);
        EXPECT_EQ(p.status_text, c.status_text);
        EXPECT_EQ(p.response_cookies, c.response_cookies);
        EXPECT_EQ(p.location, c.location);
    }
}

TEST(ApplyResponseHead, MergesRequestCookiesIntoBothFields) {
    const std::string head = "HTTP/1.1 200 OK\r\nSet-Cookie: b=3\r\nSet-Cookie: c=4\r\n\r\n";
    WebRequestParams merged{.request_cookies = "a=1; b=2"};
    apply_response_head(head, merged);
    EXPECT_EQ(merged.response_cookies, "b=3; c=4; a=1");
    EXPECT_EQ(merged.request_cookies, "b=3; c=4; a=1");

    WebRequestParams deleted{.request_cookies = "a=1; b=2"};
    apply_response_head("HTTP/1.1 200 OK\r\nSet-Cookie: b=deleted; Max-Age=0\r\n\r\n", deleted);
    EXPECT_EQ(deleted.response_cookies, "a=1");

    WebRequestParams unmerged{.request_cookies = "a=1; b=2", .auto_merge_cookies = false};
    apply_response_head(head, unmerged);
    EXPECT_EQ(unmerged.response_cookies, "b=3; c=4");
    EXPECT_EQ(unmerged.request_cookies, "a=1; b=2");
}

TEST(ApplyResponseHead, StopsAtAZeroByteAndPumpsOncePerLine) {
    int pumped = 0;
    WebRequestParams p;
    static constexpr char kHead[] = "HTTP/1.1 200 OK\r\nX: a\0b\r\nSet-Cookie: z=1\r\n\r\n";
    apply_response_head(std::string_view(kHead, sizeof kHead - 1), p, [&] { ++pumped; });
    EXPECT_EQ(p.response_headers, "HTTP/1.1 200 OK\r\nX: a");
    EXPECT_EQ(p.response_cookies, "");
    EXPECT_EQ(pumped, 2);

    pumped = 0;
    apply_response_head("HTTP/1.1 200 OK\r\nX: 1\r\n\r\n", p, [&] { ++pumped; });
    EXPECT_EQ(pumped, 3);  // status line, header line, empty line
}

}  // namespace
}  // namespace notepics
