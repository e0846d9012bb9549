#include "web/request_headers.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

#include "web/headers.h"

namespace notepics {
namespace {

constexpr std::string_view kLineBreak = "\r\n";
constexpr int kPostMethod = 1;

struct DefaultLine {
    std::string_view probe;
    std::string_view line;
    bool post_only;
};

// In the order they are appended. The Content-Type probe has no blank after
// its colon.
constexpr std::array<DefaultLine, 6> kDefaultLines = {{
    {"User-Agent: ",
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n",
     false},
    {"Accept: ", "Accept: text/html, application/xhtml+xml, */*\r\n", false},
    {"Accept-Encoding: ", "Accept-Encoding: identity\r\n", false},
    {"Accept-Language: ", "Accept-Language: zh-cn\r\n", false},
    {"Content-Type:", "Content-Type: application/x-www-form-urlencoded\r\n", true},
    {"Cache-Control: ", "Cache-Control: no-cache\r\n", false},
}};

// Headers the client adds unless told otherwise, and whose own lines it
// must therefore be told to leave out when the block has none.
constexpr std::array<std::string_view, 4> kClientHeaders = {"Accept", "Content-Type", "Expect",
                                                            "Proxy-Connection"};

// The client treats a value of only these as no value at all.
bool is_blank(std::string_view text) {
    return text.find_first_not_of(" \t\v\f") == std::string_view::npos;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

Text request_header_block(const WebRequestParams& params) {
    Text block = params.request_headers.empty() ? Text() : params.request_headers + "\r\n";

    if (params.add_default_headers) {
        for (const DefaultLine& row : kDefaultLines) {
            if (row.post_only && params.method != kPostMethod) {
                continue;
            }
            if (text_find(block, row.probe, 1, true) == -1) {
                block += row.line;
            }
        }
    }

    if (params.normalize_headers) {
        block = normalize_header_names(block);
    }

    if (text_find(block, "Connection") != -1 && header_value(block, "Connection") == "keep-alive") {
        block = text_replace(block, "Connection: keep-alive\r\n", "");
    }

    if (text_find(block, "Cookie:", 1, true) == -1 && !params.request_cookies.empty()) {
        if (text_find(params.request_cookies, "Cookie:", 1, true) == -1) {
            block = text_concat({block, "\r\nCookie: ", params.request_cookies, kLineBreak});
        } else {
            block = text_concat({block, kLineBreak, params.request_cookies, kLineBreak});
        }
    }
    return block;
}

std::vector<std::string> client_header_lines(std::string_view block) {
    std::vector<std::string> lines;
    std::array<bool, kClientHeaders.size()> present{};
    for (const Text& line : text_split(block, kLineBreak)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 ||
            line.find_first_of("\r\n") != std::string::npos) {
            continue;
        }
        const std::string_view name = std::string_view(line).substr(0, colon);
        for (std::size_t i = 0; i < kClientHeaders.size(); ++i) {
            present[i] = present[i] || equal_ignoring_case(name, kClientHeaders[i]);
        }
        if (is_blank(std::string_view(line).substr(colon + 1))) {
            lines.push_back(line.substr(0, colon) + ";");
        } else {
            lines.push_back(line);
        }
    }
    for (std::size_t i = 0; i < kClientHeaders.size(); ++i) {
        if (!present[i]) {
            lines.push_back(std::string(kClientHeaders[i]) + ":");
        }
    }
    return lines;
}

}  // namespace notepics
