// The header block a request carries, and its lines as the HTTP client is
// given them. Pure functions.
//
//   WebRequestParams p{.url = "http://h/", .request_cookies = "a=1"};
//   request_header_block(p) ==
//       "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
//       "Accept: text/html, application/xhtml+xml, */*\r\nAccept-Encoding: identity\r\n"
//       "Accept-Language: zh-cn\r\nCache-Control: no-cache\r\nCookie: a=1\r\n"
#pragma once

#include <string>
#include <vector>

#include "text/text.h"
#include "web/web_request.h"

namespace notepics {

// The request header block: `request_headers`, the default lines the block
// lacks (when `add_default_headers` is set; a probe such as "Accept: " found
// anywhere in the block, in any case, counts as present), names in
// capitalised form (when `normalize_headers` is set), each
// "Connection: keep-alive\r\n" removed when that is the block's Connection
// value, and a Cookie line from `request_cookies` unless the block already
// holds "Cookie:". Lines are separated by "\r\n".
Text request_header_block(const WebRequestParams& params);

// The block's lines in the form the HTTP client takes them, so that the
// request carries exactly these lines: empty lines, lines without a name
// before ":" and lines holding a lone CR or LF are left out; a line with an
// empty value becomes "Name;" (the client's form for sending "Name:").
// Entries "Accept:", "Content-Type:", "Expect:" and "Proxy-Connection:"
// follow when the block has no line of that name; they stop the client from
// adding such a header of its own.
//   client_header_lines("Accept: */*\r\nX-Empty: ") ==
//       {"Accept: */*", "X-Empty;", "Content-Type:", "Expect:", "Proxy-Connection:"}
std::vector<std::string> client_header_lines(std::string_view block);

}  // namespace notepics
