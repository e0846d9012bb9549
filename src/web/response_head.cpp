#include "web/response_head.h"

#include "text/markers.h"
#include "web/cookies.h"

namespace notepics {
namespace {

constexpr std::string_view kLineBreak = "\r\n";

std::string_view without_line_end(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

int status_code_of(std::string_view status_line) {
    const std::size_t blank = status_line.find(' ');
    if (blank == std::string_view::npos) {
        return 0;
    }
    int code = 0;
    for (std::size_t i = blank + 1; i < status_line.size() && i < blank + 4; ++i) {
        const char c = status_line[i];
        if (c < '0' || c > '9') {
            return 0;
        }
        code = code * 10 + (c - '0');
    }
    return code;
}

void ResponseHeadCollector::add_line(std::string_view line) {
    if (complete_) {
        return;
    }
    received_any_ = true;
    const std::string_view content = without_line_end(line);
    current_.append(content);
    current_.append(kLineBreak);
    if (!content.empty()) {
        return;
    }
    // The empty line ends a head. Its first line is the status line.
    const int code = status_code_of(std::string_view(current_).substr(0, current_.find('\r')));
    if (code >= 100 && code < 200) {
        current_.clear();
        return;
    }
    head_ = std::move(current_);
    current_.clear();
    status_code_ = code;
    complete_ = true;
}

void apply_response_head(std::string_view head, WebRequestParams& params,
                         const std::function<void()>& process_pending_messages) {
    params.response_headers = Text(head.substr(0, head.find('\0')));
    const Text& headers = params.response_headers;

    const int line_end = text_find(headers, kLineBreak, 10);
    params.status_text = text_slice(headers, 10, line_end - 10);

    for (const Text& line : text_split(headers, kLineBreak)) {
        if (text_before(line, ": ") == "Set-Cookie") {
            const Text value = text_find(line, ";") != -1
                                   ? text_between(line, "Set-Cookie:", ";")
                                   : text_replace(line, "Set-Cookie:", "", 1, -1, false);
            params.response_cookies =
                text_concat({params.response_cookies, text_trim(value), "; "});
        }
        if (text_compare(text_head(line, 10), "Location: ", false) == 0) {
            params.location = text_slice(line, 11, text_len(line) - 10);
        }
        if (process_pending_messages) {
            process_pending_messages();
        }
    }

    if (text_tail(params.response_cookies, 2) == "; ") {
        params.response_cookies =
            text_head(params.response_cookies, text_len(params.response_cookies) - 2);
    }
    if (params.auto_merge_cookies && !params.request_cookies.empty()) {
        params.response_cookies = merge_cookies(params.request_cookies, params.response_cookies);
    }
}

}  // namespace notepics
