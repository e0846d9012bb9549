// The program's one general HTTP routine: one synchronous request over
// HTTP/1.1, http and https only, the response body returned as GBK text.
//
// Everything else about the exchange travels in `WebRequestParams`: the
// request settings in, the response's head, status text, cookies, redirect
// target and raw body out. Out fields are written only where the exchange
// says so and otherwise keep what the caller put there; `status_text` is not
// cleared at the start. Every failure is one numbered message in
// `status_text` ("701 解析URL地址失败!", GBK) and an empty result; the
// routine never throws and shares nothing between calls.
//
//   WebRequestParams p{.url = "https://example.test/note", .no_redirect = true};
//   Text page = web_request(p);
//   // p.status_text == "200 OK", p.response_headers holds the raw head,
//   // p.response_bytes the undecoded body.
#pragma once

#include <cstddef>
#include <functional>

#include "text/text.h"

namespace notepics {

// Every field has an initialiser, so that designated initialisers may name
// any subset of the fields: WebRequestParams p{.url = a, .no_redirect = true}.
struct WebRequestParams {
    // Absolute http or https address, with optional port, path and query.
    Text url{};
    // 0 GET, 1 POST, 2 HEAD, 3 PUT, 4 OPTIONS, 5 DELETE, 6 TRACE, 7 CONNECT;
    // any other value GET.
    int method = 0;
    // Request body, sent byte for byte when `body_bytes` is empty.
    Text body_text{};
    // In/out: "a=1; b=2" pairs, or a whole line beginning "Cookie:". Sent
    // unless the header block already holds a Cookie line; receives the
    // merged cookies when `auto_merge_cookies` is set.
    Text request_cookies{};
    // In/out: the response's cookies are appended to what it holds.
    Text response_cookies{};
    // Extra request header lines ("Name: value"), separated by "\r\n".
    Text request_headers{};
    // Out: the raw response head, each line ending in "\r\n", then "\r\n".
    Text response_headers{};
    // A 3xx response comes back as it is instead of being followed.
    bool no_redirect = false;
    // Basic credentials for the server, used only when both are non-empty.
    Text user_name{};
    Text password{};
    // "host:port" of an HTTP proxy; empty: a direct connection.
    Text proxy{};
    // Basic credentials for the proxy, used only when both are non-empty.
    Text proxy_user_name{};
    Text proxy_password{};
    // Limit in seconds for connecting and for each stretch without progress;
    // 0 or less means 30.
    int timeout_seconds = 0;
    // Out: the value of the response's "Location: " line.
    Text location{};
    // Out: status code and reason phrase ("200 OK"), or a failure message.
    Text status_text{};
    // Out: the response body bytes, undecoded.
    ByteBuffer response_bytes{};
    // Merge `request_cookies` into `response_cookies` (and back).
    bool auto_merge_cookies = true;
    // Add the default header lines the caller did not give.
    bool add_default_headers = true;
    // Request body as bytes; used instead of `body_text` when not empty.
    ByteBuffer body_bytes{};
    // Rewrite request header names in capitalised form ("Accept-Language").
    bool normalize_headers = true;
};

// Performs the request described by `params` and returns the response body
// as text: its bytes up to the first zero byte, re-decoded into GBK when the
// page's meta tag declares another charset. `process_pending_messages` is
// called after each response header line, after the charset probe and
// before returning; an empty function means nothing to pump.
Text web_request(WebRequestParams& params,
                 const std::function<void()>& process_pending_messages = {});

// As above, with reading stopped as a failed read ("713 读取数据失败!")
// once the body grows past `max_body_bytes`; the form above allows 256 MiB.
Text web_request(WebRequestParams& params, const std::function<void()>& process_pending_messages,
                 std::size_t max_body_bytes);

}  // namespace notepics
