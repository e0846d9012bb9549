// web_request against servers nobody here wrote, started on 127.0.0.1 by
// the test: Debian's nginx (two plain origins and one TLS origin with a
// self-signed certificate) and squid as a forward proxy with Basic auth.
// Skipped when they are not installed (scripts/setup installs both).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/real_servers.h"
#include "web/web_request.h"

namespace notepics {
namespace {

using notepics::testing::free_port;
using notepics::testing::NginxServer;
using notepics::testing::SquidProxy;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// 712 服务器未响应!
const Text kNoResponse = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class WebRequestRealServers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // first origin -> second origin -> second origin again -> first origin
        nginx_ = std::make_unique<NginxServer>(NginxServer::Config{
            .locations = "location = /one { return 302 http://127.0.0.1:{other_http_port}/two; }\n"
                         "location = /two { return 302 /three; }\n"
                         "location = /three { return 302 http://127.0.0.1:{http_port}/four; }\n"
                         "location = /four { return 200 'back'; }\n"
                         "location = /page { return 200 'page'; }\n"
                         "location = /to-closed { return 302 http://127.0.0.1:" +
                         std::to_string(free_port()) +
                         "/; }\n"
                         "location = /to-tls-on-plain { return 302 "
                         "https://127.0.0.1:{http_port}/page; }\n"});
        squid_ = std::make_unique<SquidProxy>("pu", "pw");
    }
    static void TearDownTestSuite() {
        squid_.reset();
        nginx_.reset();
    }
    void SetUp() override {
        if (!nginx_->running()) {
            GTEST_SKIP() << nginx_->error();
        }
        log_lines_before_ = lines_of(nginx_->access_log()).size();
    }

    static NginxServer& nginx() { return *nginx_; }
    static SquidProxy& squid() { return *squid_; }
    static void need_squid() {
        if (!squid_->running()) {
            GTEST_SKIP() << squid_->error();
        }
    }

    // nginx's log lines of the requests since the test began. nginx writes
    // a line once it has sent its answer, which can be after the client (or a
    // proxy in between) has read it: wait a while for `expected` lines.
    std::vector<std::string> logged(std::size_t expected = 0) const {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            std::vector<std::string> lines = lines_of(nginx_->access_log());
            lines.erase(lines.begin(),
                        lines.begin() + static_cast<std::ptrdiff_t>(log_lines_before_));
            if (lines.size() >= expected || std::chrono::steady_clock::now() > give_up) {
                return lines;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

  private:
    static inline std::unique_ptr<NginxServer> nginx_;
    static inline std::unique_ptr<SquidProxy> squid_;
    std::size_t log_lines_before_ = 0;
};

struct CredentialCase {
    const char* name;
    WebRequestParams params;
    std::string first_origin_credentials;  // as nginx logs them
    bool through_squid;
};

TEST_F(WebRequestRealServers, KeepsCredentialsToTheFirstOrigin) {
    const CredentialCase cases[] = {
        {"server credentials and request cookies",
         {.request_cookies = "c=1", .user_name = "u", .password = "p"},
         "auth=[Basic dTpw] cookie=[c=1]",
         false},
        {"the caller's own lines",
         {.request_headers = "Authorization: Bearer t\r\nCookie: k=v"},
         "auth=[Bearer t] cookie=[k=v]",
         false},
        {"through squid with proxy credentials",
         {.request_cookies = "c=1", .user_name = "u", .password = "p"},
         "auth=[Basic dTpw] cookie=[c=1]",
         true},
    };
    for (const CredentialCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.through_squid && !squid().running()) {
            continue;
        }
        SetUp();
        WebRequestParams p = c.params;
        p.url = nginx().http_url("/one");
        if (c.through_squid) {
            p.proxy = squid().address();
            p.proxy_user_name = "pu";
            p.proxy_password = "pw";
        }
        EXPECT_EQ(web_request(p), "back");
        EXPECT_EQ(p.status_text, "200 OK");
        const std::vector<std::string> lines = logged(4);
        ASSERT_EQ(lines.size(), 4u);
        const std::string first = std::to_string(nginx().http_port()) + " GET ";
        const std::string second = std::to_string(nginx().other_http_port()) + " GET ";
        EXPECT_THAT(lines[0], StartsWith(first + "/one " + c.first_origin_credentials));
        EXPECT_THAT(lines[1], StartsWith(second + "/two auth=[-] cookie=[-]"));
        EXPECT_THAT(lines[2], StartsWith(second + "/three auth=[-] cookie=[-]"));
        EXPECT_THAT(lines[3], StartsWith(first + "/four " + c.first_origin_credentials));
    }
}

TEST_F(WebRequestRealServers, ReportsAFailedLaterHopAsNoResponse) {
    for (const char* target : {"/to-closed", "/to-tls-on-plain"}) {
        SCOPED_TRACE(target);
        WebRequestParams p{.url = nginx().http_url(target), .timeout_seconds = 5};
        EXPECT_EQ(web_request(p), "");
        EXPECT_EQ(p.status_text, kNoResponse);
    }
}

TEST_F(WebRequestRealServers, SendsTheBodyOfAHeadRequest) {
    WebRequestParams p{.url = nginx().http_url("/page"), .method = 2, .body_text = "hb"};
    EXPECT_EQ(web_request(p), "");
    EXPECT_EQ(p.status_text, "200 OK");
    const std::vector<std::string> lines = logged(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_THAT(lines[0], HasSubstr(" HEAD /page "));
    EXPECT_THAT(lines[0], HasSubstr("length=[2]"));
}

TEST_F(WebRequestRealServers, ReachesPlainAndTlsOriginsThroughSquid) {
    need_squid();
    for (const std::string& url : {nginx().http_url("/page"), nginx().https_url("/page")}) {
        SCOPED_TRACE(url);
        WebRequestParams p{.url = url,
                           .proxy = squid().address(),
                           .proxy_user_name = "pu",
                           .proxy_password = "pw"};
        EXPECT_EQ(web_request(p), "page");
        EXPECT_EQ(p.status_text, "200 OK");
    }
}

TEST_F(WebRequestRealServers, HandsBackSquidsRefusalForPlainAndTlsAlike) {
    need_squid();
    for (const std::string& url : {nginx().http_url("/page"), nginx().https_url("/page")}) {
        SCOPED_TRACE(url);
        WebRequestParams p{.url = url,
                           .proxy = squid().address(),
                           .proxy_user_name = "pu",
                           .proxy_password = "wrong"};
        const Text page = web_request(p);
        EXPECT_EQ(p.status_text, "407 Proxy Authentication Required");
        EXPECT_THAT(p.response_headers, HasSubstr("\r\nProxy-Authenticate: Basic"));
        EXPECT_THAT(p.response_headers, HasSubstr("\r\nX-Squid-Error: ERR_CACHE_ACCESS_DENIED"));
        EXPECT_THAT(page, HasSubstr("</html>"));
        EXPECT_THAT(std::string(p.response_bytes.begin(), p.response_bytes.end()),
                    HasSubstr("ERR_CACHE_ACCESS_DENIED"));
    }
    EXPECT_THAT(logged(), ::testing::IsEmpty());
}

}  // namespace
}  // namespace notepics
