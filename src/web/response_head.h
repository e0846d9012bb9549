// The response side of a request, apart from the transport: collecting the
// final response head from the lines the client reports, and reading that
// head into the request's out fields. Neither touches a socket.
//
//   ResponseHeadCollector collector;
//   for (std::string_view line : {"HTTP/1.1 100 Continue\r\n", "\r\n",
//                                 "HTTP/1.1 200 OK\r\n", "Set-Cookie: a=1; path=/\r\n", "\r\n"})
//       collector.add_line(line);
//   WebRequestParams p;
//   apply_response_head(collector.head(), p);
//   // p.status_text == "200 OK", p.response_cookies == "a=1"
#pragma once

#include <functional>
#include <string_view>

#include "text/text.h"
#include "web/web_request.h"

namespace notepics {

// Gathers the head of the one final response of an exchange from its lines
// as received (status line, header lines, empty line; "\n" or "\r\n"
// endings). Interim heads (status 1xx) are dropped; lines after the final
// head (trailers) are ignored. The head holds every line with a "\r\n"
// ending, the empty line included.
class ResponseHeadCollector {
  public:
    void add_line(std::string_view line);

    // True once some response line arrived.
    bool received_any() const { return received_any_; }
    // True once the final head has ended with its empty line.
    bool complete() const { return complete_; }
    // The final head once complete, else empty.
    const Text& head() const { return head_; }
    // Status code of the final head, 0 before it is complete.
    int status_code() const { return complete_ ? status_code_ : 0; }

  private:
    Text current_;
    Text head_;
    int status_code_ = 0;
    bool received_any_ = false;
    bool complete_ = false;
};

// The status code of a status line such as "HTTP/1.1 302 Found": the
// digits after the first blank, or 0 when there are none.
int status_code_of(std::string_view status_line);

// Reads a raw response head into `params`: `response_headers` becomes the
// head (cut at a zero byte, if any), `status_text` the status line from
// byte 10 on (empty when no "\r\n" follows), `location` the value of the
// last line beginning "Location: " in any case, and the name=value part of
// each "Set-Cookie" line (name case-sensitive) is appended to
// `response_cookies`, joined by "; ". Then, when `auto_merge_cookies` is set
// and `request_cookies` is not empty, both receive the merged cookies.
// `process_pending_messages` is called after each line.
void apply_response_head(std::string_view head, WebRequestParams& params,
                         const std::function<void()>& process_pending_messages = {});

}  // namespace notepics
