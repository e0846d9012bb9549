// One HTTP exchange on libcurl, followed hop by hop through redirects: the
// core that both of the program's HTTP routines stand on (`web_request` for
// pages, `fetch_url_bytes` for pictures). It owns the watchdog, the capped
// body sink, the redirect policy with its credential rule, the address check
// and the limits the two share.
//
// A `Transfer` is set up in steps, each of which reports whether libcurl took
// it, and then performed once:
//
//   std::optional<WebAddress> address = parse_web_address("http://127.0.0.1:8080/a");
//   Transfer transfer;
//   bool ready = transfer.ready() && transfer.open_session("") &&
//                transfer.limit_time(std::chrono::seconds(5)) && transfer.aim_at(*address) &&
//                transfer.set_request({.method = "GET"}) &&
//                transfer.set_header_lines({"Accept: */*"}, {"Accept: */*"});
//   TransferResult result = transfer.perform();
//   // result.end == TransferEnd::complete, result.head "HTTP/1.1 200 OK\r\n...",
//   // result.body the body bytes.
//
// Rules every transfer keeps:
// - Only http and https, for the first address and every redirect target;
//   a redirect never leads from https down to http, and at most
//   `kMaxRedirects` are followed.
// - Credentials go only to the origin (scheme, host, port) of the first
//   request: the server user name and password and the header lines meant
//   for that origin. A hop to another origin carries the other header set and
//   no server credentials; a hop back to the first origin carries them again.
//   Proxy credentials go to the proxy on every hop.
// - The time limit bounds connecting and every stretch in which nothing moves
//   either way (no byte of the body sent, no response line or body byte
//   received), to within a few milliseconds.
// - No exception leaves a libcurl callback: a failed allocation while the head
//   or body is collected ends the read like a broken connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace notepics {

// Limits both HTTP routines share.
inline constexpr int kMaxRedirects = 10;
inline constexpr std::size_t kMaxBodyBytes = std::size_t{256} << 20;
inline constexpr int kDefaultTimeoutSeconds = 30;

// False when libcurl cannot be set up in this process.
bool http_client_available();

// The time limit for `timeout_seconds`: that many seconds, or
// `kDefaultTimeoutSeconds` when it is 0 or less.
std::chrono::milliseconds time_limit_of(int timeout_seconds);

// An absolute http or https address without user info or fragment.
struct WebAddress {
    std::string text;    // the address as it is requested
    std::string scheme;  // "http" or "https"
    std::string host;    // as written in the address ("[::1]" for IPv6)
    std::string port;    // the port, the scheme's default when none is given

    // "scheme://host:port" with the host in lower case; equal origins get
    // the same credentials.
    std::string origin() const;
};

// How the path of an address is taken: byte for byte, or with "." and ".."
// segments resolved.
enum class PathForm { as_given, resolved };

// Parses an absolute address (ASCII, as libcurl takes it). Nothing unless
// its scheme is http or https; user info and fragment are dropped.
//   parse_web_address("http://u:p@Host:81/a#f")->text == "http://Host:81/a"
std::optional<WebAddress> parse_web_address(std::string_view address,
                                            PathForm path_form = PathForm::resolved);

// The proxy as libcurl is given it: "http://" in front unless the text
// begins with it. Empty stays empty.
//   proxy_url("127.0.0.1:3128") == "http://127.0.0.1:3128"
std::string proxy_url(std::string_view proxy);

// The lines of `lines` that carry no credentials: every line named
// Authorization or Cookie (in any case) is left out.
std::vector<std::string> without_credential_lines(const std::vector<std::string>& lines);

enum class HttpVersion { v1_0, v1_1 };
enum class Certificates { accept_any, verify };
enum class Redirects { follow, hand_back };
// A body that grows past its limit: keep the bytes up to the limit, or give
// up at once (also when the announced length is already too large). A body
// cut off for any reason is kept up to where it broke off, or, when giving
// up, not at all.
enum class OverLimit { keep_first_bytes, give_up };

struct RequestSettings {
    std::string method = "GET";
    std::string body;  // sent whatever the method, with a Content-Length
    HttpVersion version = HttpVersion::v1_1;
    std::size_t max_body_bytes = kMaxBodyBytes;
    OverLimit over_limit = OverLimit::keep_first_bytes;
};

// How an exchange ended.
enum class TransferEnd {
    complete,            // a final head and its whole body
    not_sent,            // no connection, or the request could not go out
    no_response,         // the request went out, no complete head came back
    body_cut,            // the head came, the body broke off or was too large
    too_many_redirects,  // more than kMaxRedirects redirects in a row
};

struct TransferResult {
    TransferEnd end = TransferEnd::not_sent;
    // The final response head ("\r\n" line ends, the empty line included),
    // set for `complete` and `body_cut`.
    Text head;
    int status = 0;
    // The value of the final head's Content-Type line, empty when none.
    std::string content_type;
    ByteBuffer body;
};

class Transfer {
  public:
    Transfer();
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // False when libcurl or its handle could not be made.
    bool ready() const;

    // Session: http and https only, through `proxy` (as `proxy_url` makes
    // it; port 80 when it names none) or directly when it is empty; proxies
    // named by the environment are never used.
    bool open_session(std::string_view proxy);
    bool limit_time(std::chrono::milliseconds limit);
    bool aim_at(const WebAddress& address);
    bool set_request(RequestSettings settings);
    // Basic credentials, each pair used only when both texts are non-empty.
    bool set_server_credentials(std::string_view user_name, std::string_view password);
    bool set_proxy_credentials(std::string_view user_name, std::string_view password);
    bool set_certificates(Certificates certificates);
    bool set_redirects(Redirects redirects);
    // The header lines of hops to the first request's origin and of hops
    // elsewhere, in libcurl's form (see client_header_lines).
    bool set_header_lines(const std::vector<std::string>& first_origin,
                          const std::vector<std::string>& elsewhere);

    // Runs the exchange. Once only.
    TransferResult perform();

    // What the transfer holds; opaque outside transfer.cpp.
    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace notepics
