// web_request against real servers on 127.0.0.1: what goes over the wire,
// what comes back in every out field, and each failure that can be
// provoked.
#include "web/web_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "../support/loopback_server.h"

namespace notepics {
namespace {

using notepics::testing::free_port;
using notepics::testing::LoopbackOptions;
using notepics::testing::LoopbackRoute;
using notepics::testing::LoopbackServer;
using notepics::testing::RecordedRequest;
using notepics::testing::request_body;
using notepics::testing::request_head;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// 701 解析URL地址失败!
const Text kAddressInvalid = "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
// 711 发送请求失败!
const Text kSendFailed = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// 712 服务器未响应!
const Text kNoResponse = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
// 713 读取数据失败!
const Text kReadFailed = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

const std::string kDefaultLines =
    "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
    "Accept: text/html, application/xhtml+xml, */*\r\n"
    "Accept-Encoding: identity\r\n"
    "Accept-Language: zh-cn\r\n"
    "Cache-Control: no-cache\r\n";

[[maybe_unused]] ByteBuffer bytes_of(std::string_view text) {
    return ByteBuffer(text.begin(), text.end());
}

std::string redirect(std::string_view status, std::string_view location,
                     std::string_view body = "") {
    return "HTTP/1.1 " + std::string(status) + "\r\nLocation: " + std::string(location) +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
           std::string(body);
}

std::vector<LoopbackRoute> routes() {
    std::vector<LoopbackRoute> all = {
        LoopbackRoute::raw("/plain",
                           "HTTP/1.1 200 OK\r\n"
                           "Content-Type: text/html\r\n"
                           "Set-Cookie: sid=abc; Path=/; HttpOnly\r\n"
                           "set-cookie: lower=1\r\n"
                           "Set-Cookie: theme=dark\r\n"
                           "X-Odd-CASE: v\r\n"
                           "X-Dup: 1\r\n"
                           "X-Dup: 2\r\n"
                           "Content-Length: 5\r\n"
                           "Connection: close\r\n"
                           "\r\n"
                           "hello"),
        LoopbackRoute::reply("/zero", "200 OK", {}, std::string("ab\0cd", 5)),
        LoopbackRoute::raw("/empty", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"),
        LoopbackRoute::raw("/no-content", "HTTP/1.1 204 No Content\r\n\r\n"),
        LoopbackRoute::raw("/until-close", "HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\nsent until close"),
        LoopbackRoute::raw("/bare-lf", "HTTP/1.1 200 OK\nX-A: 1\nContent-Length: 2\n\nok"),
        LoopbackRoute::raw("/continue",
                           "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
                           "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok"),
        LoopbackRoute::raw("/cut",
                           "HTTP/1.1 200 OK\r\nSet-Cookie: part=1\r\nContent-Length: 100\r\n\r\n"
                           "first forty bytes of a hundred promised.",
                           "close"),
        LoopbackRoute::raw("/cut-reset", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nsome bytes",
                           "reset"),
        LoopbackRoute::raw("/stall-body", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nstart",
                           "hang"),
        LoopbackRoute::raw("/silent", "", "close"),
        LoopbackRoute::raw("/hang", "", "hang"),
        LoopbackRoute::raw("/half-head", "HTTP/1.1 200 OK\r\nX-A: 1\r\n", "close"),
        LoopbackRoute::raw("/not-http", "hello there\r\n\r\n", "close"),
        LoopbackRoute::reply("/big", "200 OK", {}, std::string(1000, 'b')),
        LoopbackRoute::raw("/found", redirect("302 Found", "/plain", "moved")),
        LoopbackRoute::raw("/lower-location",
                           "HTTP/1.1 302 Found\r\nlocation: /plain\r\nContent-Length: 0\r\n\r\n"),
        LoopbackRoute::raw("/chain/1", redirect("301 Moved Permanently", "/chain/2")),
        LoopbackRoute::raw("/chain/2",
                           redirect("302 Found", "http://127.0.0.1:{http_port}/chain/3")),
        LoopbackRoute::raw("/chain/3",
                           "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 3\r\n\r\nend"),
        LoopbackRoute::raw("/loop", redirect("302 Found", "/loop")),
        LoopbackRoute::raw("/see-other", redirect("303 See Other", "/echo")),
        LoopbackRoute::raw("/temporary", redirect("307 Temporary Redirect", "/echo")),
        LoopbackRoute::raw("/to-http",
                           redirect("302 Found", "http://127.0.0.1:{http_port}/plain", "stay")),
        LoopbackRoute::raw("/to-ftp", redirect("302 Found", "ftp://127.0.0.1/file", "ftp")),
        LoopbackRoute::raw("/to-https",
                           redirect("302 Found", "https://127.0.0.1:{https_port}/echo")),
        // One origin -> another (the same server by another name) -> that
        // other origin again -> back to the first.
        LoopbackRoute::raw("/origins/1",
                           redirect("302 Found", "http://localhost:{http_port}/origins/2")),
        LoopbackRoute::raw("/origins/2", redirect("302 Found", "/origins/3")),
        LoopbackRoute::raw("/origins/3",
                           redirect("302 Found", "http://127.0.0.1:{http_port}/origins/4")),
        LoopbackRoute::reply("/origins/4", "200 OK", {}, "back"),
        LoopbackRoute::raw(
            "/to-closed",
            redirect("302 Found", "http://127.0.0.1:" + std::to_string(free_port()) + "/")),
        LoopbackRoute::raw("/to-tls-on-plain",
                           redirect("302 Found", "https://127.0.0.1:{http_port}/plain")),
        LoopbackRoute::raw("/to-hang", redirect("302 Found", "/hang")),
        LoopbackRoute::reply("*", "200 OK", {"X-Fallback: 1"}, "echo"),
    };
    // Exactly ten redirects in a row.
    for (int i = 0; i < 10; ++i) {
        all.push_back(LoopbackRoute::raw("/ten/" + std::to_string(i),
                                         redirect("302 Found", "/ten/" + std::to_string(i + 1))));
    }
    return all;
}

class WebRequestLoopback : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<LoopbackServer>(
            routes(), LoopbackOptions{.https = true, .proxy = true, .proxy_auth = "pu:pw"});
    }
    static void TearDownTestSuite() { server_.reset(); }

    void SetUp() override {
        ASSERT_TRUE(server_->running()) << server_->error();
        seen_before_ = server_->requests().size();
    }

    static LoopbackServer& server() { return *server_; }

    // The requests received since the test began.
    std::vector<RecordedRequest> requests() const {
        std::vector<RecordedRequest> seen = server_->requests();
        seen.erase(seen.begin(), seen.begin() + static_cast<std::ptrdiff_t>(seen_before_));
        return seen;
    }

    // The one request received since the test began.
    RecordedRequest only_request() const {
        const std::vector<RecordedRequest> seen = requests();
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? RecordedRequest{} : seen.back();
    }

    static std::string host() { return "127.0.0.1:" + std::to_string(server_->http_port()); }
    // The Host of a hop of /origins/1: the first origin, or the other one.
    static std::string host_of_hop(bool first_origin) {
        return (first_origin ? "127.0.0.1:" : "localhost:") + std::to_string(server_->http_port());
    }

  private:
    static inline std::unique_ptr<LoopbackServer> server_;
    std::size_t seen_before_ = 0;
};

// --- What goes over the wire ----------------------------------------------

TEST_F(WebRequestLoopback, SendsExactlyTheDefaultHeaderBlock) {
    WebRequestParams p{.url = server().http_url("/plain?q=1&r=%20")};
    web_request(p);
    EXPECT_EQ(only_request().raw,
              "GET /plain?q=1&r=%20 HTTP/1.1\r\nHost: " + host() + "\r\n" + kDefaultLines + "\r\n");
}

struct MethodCase {
    int method;
    std::string request_line;
    std::string extra_lines;  // between the default lines and the empty line
};

TEST_F(WebRequestLoopback, SendsTheMethodWordOfTheTable) {
    const MethodCase cases[] = {
        {0, "GET /echo HTTP/1.1", ""},     {1, "POST /echo HTTP/1.1", "Content-Length: 0\r\n"},
        {2, "HEAD /echo HTTP/1.1", ""},    {3, "PUT /echo HTTP/1.1", "Content-Length: 0\r\n"},
        {4, "OPTIONS /echo HTTP/1.1", ""}, {5, "DELETE /echo HTTP/1.1", ""},
        {6, "TRACE /echo HTTP/1.1", ""},   {7, "CONNECT /echo HTTP/1.1", ""},
        {8, "GET /echo HTTP/1.1", ""},     {9, "GET /echo HTTP/1.1", ""},
        {-1, "GET /echo HTTP/1.1", ""},
    };
    for (const MethodCase& c : cases) {
        SCOPED_TRACE(c.method);
        SetUp();
        WebRequestParams p{.url = server().http_url("/echo"), .method = c.method};
        const Text result = web_request(p);
        std::string lines = kDefaultLines;
        if (c.method == 1) {
            // The POST default sits between Accept-Language and Cache-Control.
            lines.insert(lines.find("Cache-Control"),
                         "Content-Type: application/x-www-form-urlencoded\r\n");
        }
        EXPECT_EQ(only_request().raw,
                  c.request_line + "\r\nHost: " + host() + "\r\n" + lines + c.extra_lines + "\r\n");
        EXPECT_EQ(p.status_text, "200 OK");
        EXPECT_EQ(result, c.method == 2 ? "" : "echo");  // HEAD reads no body
    }
}

struct BodyCase {
    const char* name;
    int method;
    Text body_text;
    ByteBuffer body_bytes;
    std::string sent;
};

TEST_F(WebRequestLoopback, SendsBodyBytesBeforeBodyText) {
    const BodyCase cases[] = {
        {"text only", 1, "a=1&b=\xD6\xD0", {}, "a=1&b=\xD6\xD0"},
        {"bytes win", 1, "ignored", bytes_of(std::string("x\0y", 3)), std::string("x\0y", 3)},
        {"neither", 1, "", {}, ""},
        {"put", 3, "put body", {}, "put body"},
        {"get with a body", 0, "q", {}, "q"},
        {"delete with a body", 5, "d", {}, "d"},
        {"head with a body", 2, "h", {}, "h"},
    };
    for (const BodyCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        WebRequestParams p{.url = server().http_url("/echo"),
                           .method = c.method,
                           .body_text = c.body_text,
                           .body_bytes = c.body_bytes};
        web_request(p);
        const std::string raw = only_request().raw;
        EXPECT_EQ(request_body(raw), c.sent);
        EXPECT_THAT(request_head(raw),
                    HasSubstr("\r\nContent-Length: " + std::to_string(c.sent.size()) + "\r\n"));
        EXPECT_THAT(request_head(raw), Not(HasSubstr("Expect:")));
    }
}

struct HeaderCase {
    const char* name;
    WebRequestParams params;
    std::string header_lines;  // everything between the Host line and the empty line
};

TEST_F(WebRequestLoopback, SendsTheCallersHeaderBlock) {
    const std::string ua =
        "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n";
    const std::string rest =
        "Accept-Encoding: identity\r\nAccept-Language: zh-cn\r\nCache-Control: no-cache\r\n";
    const HeaderCase cases[] = {
        {"lower-case accept is normalised and kept alone",
         {.request_headers = "accept: text/plain"},
         "Accept: text/plain\r\n" + ua + rest},
        {"x-accept hides the default accept, and no accept at all goes out",
         {.request_headers = "X-Accept: 1"},
         "X-Accept: 1\r\n" + ua + rest},
        {"keep-alive line removed", {.request_headers = "Connection: keep-alive"}, kDefaultLines},
        {"keep-alive stays without normalisation",
         {.request_headers = "Connection: close", .normalize_headers = false},
         "Connection: close\r\n" + kDefaultLines},
        {"names as written without normalisation",
         {.request_headers = "x-lower: 1\r\nno colon line", .normalize_headers = false},
         "x-lower: 1\r\n" + kDefaultLines},
        {"empty value goes out empty",
         {.request_headers = "X-Empty: ", .add_default_headers = false},
         "X-Empty:\r\n"},
        {"no defaults, no lines", {.add_default_headers = false}, ""},
        {"cookie pairs",
         {.request_cookies = "a=1; b=\xD6\xD0", .add_default_headers = false},
         "Cookie: a=1; b=\xD6\xD0\r\n"},
        {"whole cookie line",
         {.request_cookies = "Cookie: z=9", .add_default_headers = false},
         "Cookie: z=9\r\n"},
        {"a cookie line in the headers wins",
         {.request_cookies = "a=1",
          .request_headers = "Cookie: mine=1",
          .add_default_headers = false},
         "Cookie: mine=1\r\n"},
        {"a set-cookie text counts as a cookie line",
         {.request_cookies = "a=1",
          .request_headers = "X-Note: Set-Cookie: x",
          .add_default_headers = false},
         "X-Note: Set-Cookie: x\r\n"},
        {"caller's content type on a POST",
         {.method = 1, .request_headers = "Content-Type: application/json"},
         "Content-Type: application/json\r\n" + kDefaultLines + "Content-Length: 0\r\n"},
        {"no content type on a POST without defaults",
         {.method = 1, .add_default_headers = false},
         "Content-Length: 0\r\n"},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        WebRequestParams p = c.params;
        p.url = server().http_url("/echo");
        web_request(p);
        const std::string head = request_head(only_request().raw);
        const std::string host_line = "Host: " + host() + "\r\n";
        ASSERT_NE(head.find(host_line), std::string::npos) << head;
        EXPECT_EQ(head.substr(head.find(host_line) + host_line.size()), c.header_lines + "\r\n");
    }
}

TEST_F(WebRequestLoopback, EmptyPathSendsSlashWithoutQuery) {
    WebRequestParams p{.url = "http://" + host() + "?dropped=1"};
    web_request(p);
    EXPECT_THAT(only_request().raw, StartsWith("GET / HTTP/1.1\r\n"));
}

TEST_F(WebRequestLoopback, GbkPathGoesOutAsEncodedUtf8) {
    // 中 = GBK D6 D0 = UTF-8 E4 B8 AD; the blank is escaped as well.
    WebRequestParams p{.url = server().http_url("/a \xD6\xD0?k=\xD6\xD0")};
    web_request(p);
    EXPECT_THAT(only_request().raw, StartsWith("GET /a%20%E4%B8%AD?k=%E4%B8%AD HTTP/1.1\r\n"));
}

struct CredentialCase {
    const char* name;
    std::string url_userinfo;
    Text user_name;
    Text password;
    std::string expected_line;  // empty: no Authorization line
};

TEST_F(WebRequestLoopback, SendsBasicCredentialsOnlyWhenBothAreGiven) {
    const CredentialCase cases[] = {
        {"both", "", "user", "pa:ss", "Authorization: Basic dXNlcjpwYTpzcw==\r\n"},
        {"no password", "", "user", "", ""},
        {"no user", "", "", "pass", ""},
        {"credentials in the address are ignored", "u:p@", "", "", ""},
    };
    for (const CredentialCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        WebRequestParams p{.url = "http://" + c.url_userinfo + host() + "/echo",
                           .user_name = c.user_name,
                           .password = c.password};
        web_request(p);
        const std::string head = request_head(only_request().raw);
        if (c.expected_line.empty()) {
            EXPECT_THAT(head, Not(HasSubstr("Authorization")));
        } else {
            EXPECT_THAT(head, HasSubstr(c.expected_line));
        }
    }
}

// --- What comes back --------------------------------------------------------

TEST_F(WebRequestLoopback, FillsEveryOutFieldFromTheResponse) {
    WebRequestParams p{.url = server().http_url("/plain"),
                       .response_cookies = "old=0",
                       .location = "kept",
                       .status_text = "replaced"};
    const Text result = web_request(p);
    EXPECT_EQ(result, "hello");
    EXPECT_EQ(p.status_text, "200 OK");
    EXPECT_EQ(p.response_headers,
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: text/html\r\n"
              "Set-Cookie: sid=abc; Path=/; HttpOnly\r\n"
              "set-cookie: lower=1\r\n"
              "Set-Cookie: theme=dark\r\n"
              "X-Odd-CASE: v\r\n"
              "X-Dup: 1\r\n"
              "X-Dup: 2\r\n"
              "Content-Length: 5\r\n"
              "Connection: close\r\n"
              "\r\n");
    // Appended right after what the field held, without a separator.
    EXPECT_EQ(p.response_cookies, "old=0sid=abc; theme=dark");
    EXPECT_EQ(p.location, "kept");
    EXPECT_EQ(p.response_bytes, bytes_of("hello"));
    EXPECT_EQ(p.request_cookies, "");
}

TEST_F(WebRequestLoopback, MergesRequestCookiesUnlessTurnedOff) {
    WebRequestParams merged{.url = server().http_url("/plain"), .request_cookies = "sid=old; x=1"};
    web_request(merged);
    EXPECT_EQ(merged.response_cookies, "sid=abc; theme=dark; x=1");
    EXPECT_EQ(merged.request_cookies, "sid=abc; theme=dark; x=1");

    WebRequestParams unmerged{.url = server().http_url("/plain"),
                              .request_cookies = "sid=old; x=1",
                              .auto_merge_cookies = false};
    web_request(unmerged);
    EXPECT_EQ(unmerged.response_cookies, "sid=abc; theme=dark");
    EXPECT_EQ(unmerged.request_cookies, "sid=old; x=1");
}

struct BodyShapeCase {
    const char* target;
    Text status_text;
    Text result;
    std::string bytes;
    Text headers;  // empty: not checked
};

TEST_F(WebRequestLoopback, ReadsBodiesOfEveryShape) {
    const BodyShapeCase cases[] = {
        {"/zero", "200 OK", "ab", std::string("ab\0cd", 5), ""},
        {"/empty", "200 OK", "", "", ""},
        {"/no-content", "204 No Content", "", "", "HTTP/1.1 204 No Content\r\n\r\n"},
        {"/until-close", "200 OK", "sent until close", "sent until close",
         "HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\n"},
        {"/bare-lf", "200 OK", "ok", "ok",
         "HTTP/1.1 200 OK\r\nX-A: 1\r\nContent-Length: 2\r\n\r\n"},
        {"/continue", "201 Created", "ok", "ok",
         "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\n"},
    };
    for (const BodyShapeCase& c : cases) {
        SCOPED_TRACE(c.target);
        WebRequestParams p{.url = server().http_url(c.target)};
        EXPECT_EQ(web_request(p), c.result);
        EXPECT_EQ(p.status_text, c.status_text);
        EXPECT_EQ(p.response_bytes, bytes_of(c.bytes));
        if (!c.headers.empty()) {
            EXPECT_EQ(p.response_headers, c.headers);
        }
    }
}

TEST_F(WebRequestLoopback, ReturnsTheRedirectItselfWhenToldNotToFollow) {
    WebRequestParams p{.url = server().http_url("/found"), .no_redirect = true};
    EXPECT_EQ(web_request(p), "moved");
    EXPECT_EQ(p.status_text, "302 Found");
    EXPECT_EQ(p.location, "/plain");
    EXPECT_EQ(requests().size(), 1u);

    WebRequestParams lower{.url = server().http_url("/lower-location"), .no_redirect = true};
    web_request(lower);
    EXPECT_EQ(lower.location, "/plain");
}

TEST_F(WebRequestLoopback, FollowsRedirectsAndKeepsOnlyTheFinalHead) {
    WebRequestParams p{.url = server().http_url("/chain/1"), .location = "kept"};
    EXPECT_EQ(web_request(p), "end");
    EXPECT_EQ(p.status_text, "200 OK");
    EXPECT_EQ(p.response_headers, "HTTP/1.1 200 OK\r\nX-Final: yes\r\nContent-Length: 3\r\n\r\n");
    EXPECT_EQ(p.location, "kept");
    const std::vector<RecordedRequest> seen = requests();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_THAT(seen[0].raw, StartsWith("GET /chain/1 HTTP/1.1\r\n"));
    EXPECT_THAT(seen[1].raw, StartsWith("GET /chain/2 HTTP/1.1\r\n"));
    EXPECT_THAT(seen[2].raw, StartsWith("GET /chain/3 HTTP/1.1\r\n"));
    // Every hop carries the same header block.
    for (const RecordedRequest& r : seen) {
        EXPECT_THAT(r.raw, HasSubstr(kDefaultLines));
    }
}

TEST_F(WebRequestLoopback, FollowsTenRedirectsButNotEleven) {
    WebRequestParams ten{.url = server().http_url("/ten/0")};
    EXPECT_EQ(web_request(ten), "echo");
    EXPECT_EQ(ten.status_text, "200 OK");
    EXPECT_EQ(requests().size(), 11u);

    SetUp();
    WebRequestParams loop{.url = server().http_url("/loop"), .response_headers = "kept"};
    EXPECT_EQ(web_request(loop), "");
    EXPECT_EQ(loop.status_text, kNoResponse);
    EXPECT_EQ(loop.response_headers, "kept");
    EXPECT_EQ(requests().size(), 11u);
}

struct RedirectMethodCase {
    const char* target;
    std::string first_line;
    std::string body;
};

TEST_F(WebRequestLoopback, RedirectsChangeMethodAndBodyByStatus) {
    const RedirectMethodCase cases[] = {
        {"/found", "GET /plain HTTP/1.1", ""},
        {"/see-other", "GET /echo HTTP/1.1", ""},
        {"/temporary", "POST /echo HTTP/1.1", "payload"},
    };
    for (const RedirectMethodCase& c : cases) {
        SCOPED_TRACE(c.target);
        SetUp();
        WebRequestParams p{.url = server().http_url(c.target), .method = 1, .body_text = "payload"};
        web_request(p);
        const std::vector<RecordedRequest> seen = requests();
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(request_body(seen[0].raw), "payload");
        EXPECT_THAT(seen[1].raw, StartsWith(c.first_line + "\r\n"));
        EXPECT_EQ(request_body(seen[1].raw), c.body);
    }
}

TEST_F(WebRequestLoopback, NeverFollowsFromHttpsToHttpOrToAnotherScheme) {
    WebRequestParams down{.url = server().https_url("/to-http")};
    EXPECT_EQ(web_request(down), "stay");
    EXPECT_EQ(down.status_text, "302 Found");
    EXPECT_EQ(down.location, "http://127.0.0.1:" + std::to_string(server().http_port()) + "/plain");
    EXPECT_EQ(requests().size(), 1u);

    SetUp();
    WebRequestParams ftp{.url = server().http_url("/to-ftp")};
    EXPECT_EQ(web_request(ftp), "ftp");
    EXPECT_EQ(ftp.status_text, "302 Found");
    EXPECT_EQ(requests().size(), 1u);

    SetUp();
    WebRequestParams up{.url = server().http_url("/to-https")};
    EXPECT_EQ(web_request(up), "echo");
    const std::vector<RecordedRequest> seen = requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].listener, "https");
}

TEST_F(WebRequestLoopback, KeepsServerCredentialsToTheirOwnAddress) {
    // /to-https leads to another port: the credentials stay behind.
    WebRequestParams p{.url = server().http_url("/to-https"), .user_name = "u", .password = "p"};
    web_request(p);
    const std::vector<RecordedRequest> seen = requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_THAT(seen[0].raw, HasSubstr("Authorization: Basic dTpw\r\n"));
    EXPECT_THAT(seen[1].raw, Not(HasSubstr("Authorization")));
}

std::string lower_case(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

struct OriginCredentialCase {
    const char* name;
    WebRequestParams params;
    std::vector<std::string> credential_lines;  // what hops to the first origin carry
};

TEST_F(WebRequestLoopback, KeepsEveryCredentialToTheFirstOrigin) {
    const OriginCredentialCase cases[] = {
        {"server user and password",
         {.user_name = "u", .password = "p"},
         {"Authorization: Basic dTpw\r\n"}},
        {"the caller's Authorization and Cookie lines",
         {.request_headers = "Authorization: Bearer t\r\ncookie: k=v\r\nX-Keep: 1"},
         {"Authorization: Bearer t\r\n", "Cookie: k=v\r\n"}},
        {"request cookies", {.request_cookies = "c=1; d=2"}, {"Cookie: c=1; d=2\r\n"}},
        {"request cookies as a whole line",
         {.request_cookies = "Cookie: z=9"},
         {"Cookie: z=9\r\n"}},
    };
    for (const OriginCredentialCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        WebRequestParams p = c.params;
        p.url = server().http_url("/origins/1");
        EXPECT_EQ(web_request(p), "back");
        const std::vector<RecordedRequest> seen = requests();
        ASSERT_EQ(seen.size(), 4u);
        for (std::size_t hop = 0; hop < seen.size(); ++hop) {
            SCOPED_TRACE(hop);
            const std::string head = request_head(seen[hop].raw);
            const bool first_origin = hop == 0 || hop == 3;
            EXPECT_THAT(head, HasSubstr("\r\nHost: " + host_of_hop(first_origin) + "\r\n"));
            EXPECT_THAT(head, HasSubstr(kDefaultLines));
            if (first_origin) {
                for (const std::string& line : c.credential_lines) {
                    EXPECT_THAT(head, HasSubstr("\r\n" + line));
                }
            } else {
                EXPECT_THAT(lower_case(head), Not(HasSubstr("authorization")));
                EXPECT_THAT(lower_case(head), Not(HasSubstr("cookie")));
            }
            if (c.params.request_headers.find("X-Keep") != std::string::npos) {
                EXPECT_THAT(head, HasSubstr("\r\nX-Keep: 1\r\n"));
            }
        }
    }
}

TEST_F(WebRequestLoopback, GivesProxyCredentialsToTheProxyOnEveryHop) {
    WebRequestParams p{.url = server().http_url("/origins/1"),
                       .request_cookies = "c=1",
                       .user_name = "u",
                       .password = "p",
                       .proxy = server().proxy_address(),
                       .proxy_user_name = "pu",
                       .proxy_password = "pw"};
    EXPECT_EQ(web_request(p), "back");
    const std::vector<RecordedRequest> seen_all = requests();
    EXPECT_EQ(seen_all.size(), 8u);  // each hop at the proxy and at the server
    for (const RecordedRequest& seen : seen_all) {
        const std::string head = request_head(seen.raw);
        if (seen.listener == "proxy") {
            EXPECT_THAT(head, HasSubstr("\r\nProxy-Authorization: Basic cHU6cHc=\r\n"));
        } else if (head.find("\r\nHost: " + host_of_hop(false) + "\r\n") != std::string::npos) {
            EXPECT_THAT(lower_case(head), Not(HasSubstr("authorization")));
            EXPECT_THAT(lower_case(head), Not(HasSubstr("cookie")));
        } else {
            EXPECT_THAT(head, HasSubstr("\r\nAuthorization: Basic dTpw\r\n"));
            EXPECT_THAT(head, HasSubstr("\r\nCookie: c=1\r\n"));
        }
    }
}

TEST_F(WebRequestLoopback, AcceptsAnySelfSignedCertificate) {
    // The certificate is self-signed and made out to another name.
    WebRequestParams p{.url = server().https_url("/plain")};
    EXPECT_EQ(web_request(p), "hello");
    EXPECT_EQ(p.status_text, "200 OK");
    const RecordedRequest seen = only_request();
    EXPECT_EQ(seen.listener, "https");
    EXPECT_THAT(seen.raw, StartsWith("GET /plain HTTP/1.1\r\n"));
}

TEST_F(WebRequestLoopback, GoesThroughTheProxyWithItsCredentials) {
    WebRequestParams plain{.url = server().http_url("/plain"),
                           .proxy = server().proxy_address(),
                           .proxy_user_name = "pu",
                           .proxy_password = "pw"};
    EXPECT_EQ(web_request(plain), "hello");
    std::vector<RecordedRequest> seen = requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].listener, "proxy");
    EXPECT_EQ(seen[0].raw, "GET " + server().http_url("/plain") + " HTTP/1.1\r\nHost: " + host() +
                               "\r\nProxy-Authorization: Basic cHU6cHc=\r\n" + kDefaultLines +
                               "\r\n");
    EXPECT_EQ(seen[1].listener, "http");

    SetUp();
    WebRequestParams tls{.url = server().https_url("/plain"),
                         .proxy = server().proxy_address(),
                         .proxy_user_name = "pu",
                         .proxy_password = "pw"};
    EXPECT_EQ(web_request(tls), "hello");
    seen = requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].listener, "proxy");
    EXPECT_THAT(
        seen[0].raw,
        StartsWith("CONNECT 127.0.0.1:" + std::to_string(server().https_port()) + " HTTP/1.1\r\n"));
    EXPECT_THAT(seen[0].raw, HasSubstr("\r\nProxy-Authorization: Basic cHU6cHc=\r\n"));
    EXPECT_EQ(seen[1].listener, "https");
    EXPECT_THAT(seen[1].raw, Not(HasSubstr("Proxy-")));
}

TEST_F(WebRequestLoopback, ReportsAProxyThatRefusesTheCredentials) {
    WebRequestParams plain{.url = server().http_url("/plain"),
                           .proxy = server().proxy_address(),
                           .proxy_user_name = "pu",
                           .proxy_password = "wrong"};
    EXPECT_EQ(web_request(plain), "");
    EXPECT_EQ(plain.status_text, "407 Proxy Authentication Required");

    // For an https address the refusal of the tunnel comes back the same way.
    SetUp();
    WebRequestParams tls{.url = server().https_url("/plain"), .proxy = server().proxy_address()};
    EXPECT_EQ(web_request(tls), "");
    EXPECT_EQ(tls.status_text, "407 Proxy Authentication Required");
    EXPECT_THAT(tls.response_headers, HasSubstr("\r\nProxy-Authenticate: Basic"));
    const std::string connect =
        "CONNECT 127.0.0.1:" + std::to_string(server().https_port()) + " HTTP/1.1\r\n";
    for (const RecordedRequest& seen : requests()) {
        EXPECT_EQ(seen.listener, "proxy");
        EXPECT_THAT(seen.raw, StartsWith(connect));
    }
}

// --- Failures ----------------------------------------------------------------

TEST_F(WebRequestLoopback, RejectsAddressesThatAreNotHttp) {
    const std::string port = std::to_string(server().http_port());
    const std::string cases[] = {
        "",
        "ftp://127.0.0.1:" + port + "/",
        "file:///etc/hostname",
        "/relative/path",
        "127.0.0.1:" + port + "/no-scheme",
        "http://",
        "http://127.0.0.1:99999/",
        "http://127.0.0.1/a\r\nX: y",
    };
    for (const std::string& url : cases) {
        SCOPED_TRACE(url);
        WebRequestParams p{.url = url, .response_headers = "kept", .location = "kept"};
        EXPECT_EQ(web_request(p), "");
        EXPECT_EQ(p.status_text, kAddressInvalid);
        EXPECT_EQ(p.response_headers, "kept");
        EXPECT_EQ(p.location, "kept");
    }
    EXPECT_TRUE(requests().empty());
}

struct FailureCase {
    const char* name;
    std::string url;
    int timeout_seconds;
    Text status_text;
};

TEST_F(WebRequestLoopback, ReportsWhereTheExchangeStopped) {
    const FailureCase cases[] = {
        {"nobody listening", "http://127.0.0.1:" + std::to_string(free_port()) + "/", 0,
         kSendFailed},
        {"TLS handshake with a plain server", "https://" + host() + "/plain", 1, kSendFailed},
        {"closed without a word", server().http_url("/silent"), 0, kNoResponse},
        {"no answer in time", server().http_url("/hang"), 1, kNoResponse},
        {"head cut off", server().http_url("/half-head"), 0, kNoResponse},
        {"not an HTTP response", server().http_url("/not-http"), 0, kNoResponse},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        WebRequestParams p{.url = c.url,
                           .response_cookies = "kept",
                           .response_headers = "kept",
                           .timeout_seconds = c.timeout_seconds,
                           .location = "kept",
                           .response_bytes = bytes_of("kept")};
        EXPECT_EQ(web_request(p), "");
        EXPECT_EQ(p.status_text, c.status_text);
        EXPECT_EQ(p.response_headers, "kept");
        EXPECT_EQ(p.response_cookies, "kept");
        EXPECT_EQ(p.location, "kept");
        EXPECT_EQ(p.response_bytes, bytes_of("kept"));
    }
}

struct LaterHopCase {
    const char* target;
    int timeout_seconds;
};

TEST_F(WebRequestLoopback, ReportsAFailedLaterHopAsNoResponse) {
    // The first hop's request went out and its head came back.
    const LaterHopCase cases[] = {
        {"/to-closed", 0},
        {"/to-tls-on-plain", 1},
        {"/to-hang", 1},
    };
    for (const LaterHopCase& c : cases) {
        SCOPED_TRACE(c.target);
        WebRequestParams p{.url = server().http_url(c.target),
                           .response_headers = "kept",
                           .timeout_seconds = c.timeout_seconds};
        EXPECT_EQ(web_request(p), "");
        EXPECT_EQ(p.status_text, kNoResponse);
        EXPECT_EQ(p.response_headers, "kept");
    }
}

TEST_F(WebRequestLoopback, GivesUpOnASilentServerSoonAfterTheTimeOut) {
    // Silent before the head and in the middle of the body. How soon is
    // measured in bench/web; here only that it ends well before a second
    // time-out could pass.
    for (const char* target : {"/hang", "/stall-body"}) {
        SCOPED_TRACE(target);
        WebRequestParams p{.url = server().http_url(target), .timeout_seconds = 2};
        const auto start = std::chrono::steady_clock::now();
        web_request(p);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
        EXPECT_THAT(p.status_text, ::testing::AnyOf(kNoResponse, kReadFailed));
    }
}

struct CutBodyCase {
    const char* target;
    int timeout_seconds;
    std::string bytes_read;
};

TEST_F(WebRequestLoopback, KeepsWhatArrivedBeforeTheBodyWasCutOff) {
    const CutBodyCase cases[] = {
        {"/cut", 0, "first forty bytes of a hundred promised."},
        {"/cut-reset", 0, "some bytes"},
        {"/stall-body", 1, "start"},
    };
    for (const CutBodyCase& c : cases) {
        SCOPED_TRACE(c.target);
        WebRequestParams p{.url = server().http_url(c.target),
                           .timeout_seconds = c.timeout_seconds};
        EXPECT_EQ(web_request(p), c.bytes_read);
        EXPECT_EQ(p.status_text, kReadFailed);
        EXPECT_EQ(p.response_bytes, bytes_of(c.bytes_read));
        EXPECT_THAT(p.response_headers, StartsWith("HTTP/1.1 200 OK\r\n"));
    }
    WebRequestParams cookies{.url = server().http_url("/cut")};
    web_request(cookies);
    EXPECT_EQ(cookies.response_cookies, "part=1");
}

TEST_F(WebRequestLoopback, StopsReadingABodyPastTheLimit) {
    WebRequestParams p{.url = server().http_url("/big")};
    EXPECT_EQ(web_request(p, {}, 300), std::string(300, 'b'));
    EXPECT_EQ(p.status_text, kReadFailed);
    EXPECT_EQ(p.response_bytes.size(), 300u);

    WebRequestParams within{.url = server().http_url("/big")};
    EXPECT_EQ(web_request(within, {}, 1000), std::string(1000, 'b'));
    EXPECT_EQ(within.status_text, "200 OK");
}

TEST_F(WebRequestLoopback, TakesAnyTimeout) {
    for (const int seconds : {0, -5, 3, 2147483647}) {
        SCOPED_TRACE(seconds);
        WebRequestParams p{.url = server().http_url("/plain"), .timeout_seconds = seconds};
        EXPECT_EQ(web_request(p), "hello");
        EXPECT_EQ(p.status_text, "200 OK");
    }
}

// --- Pumping -------------------------------------------------------------------

TEST_F(WebRequestLoopback, PumpsAfterEachHeadLineTheCharsetStepAndBeforeReturning) {
    int pumped = 0;
    WebRequestParams p{.url = server().http_url("/continue")};
    web_request(p, [&] { ++pumped; });
    // Three lines of the final head (the empty one included), the charset
    // step, the return.
    EXPECT_EQ(pumped, 3 + 1 + 1);

    pumped = 0;
    WebRequestParams bad{.url = "ftp://127.0.0.1/"};
    web_request(bad, [&] { ++pumped; });
    EXPECT_EQ(pumped, 1);
}

TEST_F(WebRequestLoopback, AllowsANestedRequestFromThePump) {
    Text nested_result;
    bool nested = false;
    WebRequestParams outer{.url = server().http_url("/plain")};
    const Text outer_result = web_request(outer, [&] {
        if (!nested) {
            nested = true;
            WebRequestParams inner{.url = server().http_url("/zero")};
            nested_result = web_request(inner);
        }
    });
    EXPECT_EQ(outer_result, "hello");
    EXPECT_EQ(nested_result, "ab");
    EXPECT_EQ(outer.status_text, "200 OK");
}

// A proxy named without a port is contacted on port 80, which only a process
// allowed to bind it can show.
TEST(WebRequestProxyPort, ContactsAProxyNamedWithoutAPortOnPort80) {
    const LoopbackServer server({LoopbackRoute::reply("/p", "200 OK", {}, "via 80")},
                                LoopbackOptions{.proxy = true, .proxy_auth = "", .proxy_port = 80});
    if (!server.running()) {
        GTEST_SKIP() << "127.0.0.1:80 cannot be bound here: " << server.error();
    }
    WebRequestParams p{.url = server.http_url("/p"), .proxy = "127.0.0.1"};
    EXPECT_EQ(web_request(p), "via 80");
    const std::vector<RecordedRequest> seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].listener, "proxy");
    EXPECT_THAT(seen[0].raw, StartsWith("GET " + server.http_url("/p") + " HTTP/1.1\r\n"));
}

}  // namespace
}  // namespace notepics
