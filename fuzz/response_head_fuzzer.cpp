// Response head processing: ResponseHeadCollector fed arbitrary lines, and
// apply_response_head on arbitrary heads with arbitrary out fields on entry.
// The head is handed over in a buffer of exactly its size, so that reading
// past it is caught. Checked:
// - the collector keeps the final head only: empty until the empty line of a
//   head whose status is not 1xx, then that head with "\r\n" endings, and
//   nothing after it changes it;
// - apply_response_head sets every out field as the stated steps say (the
//   reference below follows them with the reference search), status text
//   and redirect target are pieces of the head, cookies are appended to
//   what the field held, and the message pump runs once per line;
// - with merging, both cookie fields end up holding the same merged text,
//   without "=deleted" pairs.
//
// Input: the out fields' values on entry and a flag from the end, the rest
// is the head; its "\n"-ended pieces are also the collector's lines.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "web/cookies.h"
#include "web/response_head.h"

namespace notepics {
namespace {

constexpr std::string_view kLineBreak = "\r\n";

// The head in a heap block of exactly its size.
class ExactBuffer {
  public:
    explicit ExactBuffer(std::string_view bytes)
        : size_(bytes.size()), data_(new char[bytes.empty() ? 1 : bytes.size()]) {
        std::memcpy(data_.get(), bytes.data(), bytes.size());
    }
    std::string_view view() const { return {data_.get(), size_}; }

  private:
    std::size_t size_;
    std::unique_ptr<char[]> data_;
};

NOTEPICS_FUZZ_ORACLE std::string slice(std::string_view text, long long start, long long n) {
    if (start < 1 || start > static_cast<long long>(text.size()) || n <= 0) {
        return {};
    }
    return std::string(
        text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

NOTEPICS_FUZZ_ORACLE std::string cookie_value(const std::string& line) {
    if (reference::find(line, ";", 1, false) < 1) {
        return reference::trim(reference::replace(line, "Set-Cookie:", "", 1, -1, false));
    }
    // The text between the first "Set-Cookie:" and the next ";" after it.
    const int start = reference::find(line, "Set-Cookie:", 1, false);
    if (start < 1) {
        return {};
    }
    const long long content = start + 11LL;
    const int end = reference::find(line, ";", static_cast<int>(content), false);
    if (end < 1 || end <= content) {
        return {};
    }
    return reference::trim(slice(line, content, end - content));
}

struct Expected {
    std::string headers;
    std::string status_text;
    std::string location;
    std::string response_cookies;
    std::string request_cookies;
    int lines = 0;
};

NOTEPICS_FUZZ_ORACLE Expected reference_apply(std::string_view head,
                                              const WebRequestParams& entry) {
    Expected out;
    out.headers = std::string(head.substr(0, head.find('\0')));
    out.status_text = entry.status_text;
    out.location = entry.location;
    out.response_cookies = entry.response_cookies;
    out.request_cookies = entry.request_cookies;

    const int line_end = reference::find(out.headers, kLineBreak, 10, false);
    out.status_text = slice(out.headers, 10, line_end - 10LL);
    for (const std::string& line : reference::split(out.headers, kLineBreak)) {
        ++out.lines;
        const int separator = reference::find(line, ": ", 1, false);
        if (separator > 0 &&
            line.substr(0, static_cast<std::size_t>(separator - 1)) == "Set-Cookie") {
            out.response_cookies += cookie_value(line) + "; ";
        }
        if (line.size() >= 10 && reference::matches_at(line, 0, "location: ", true)) {
            out.location = slice(line, 11, static_cast<long long>(line.size()) - 10);
        }
    }
    if (out.response_cookies.size() >= 2 &&
        out.response_cookies.compare(out.response_cookies.size() - 2, 2, "; ") == 0) {
        out.response_cookies.resize(out.response_cookies.size() - 2);
    }
    if (entry.auto_merge_cookies && !out.request_cookies.empty()) {
        Text request = out.request_cookies;
        Text response = out.response_cookies;
        out.response_cookies = merge_cookies(request, response);
        out.request_cookies = request;
    }
    return out;
}

NOTEPICS_FUZZ_ORACLE void check_apply(std::string_view head, const WebRequestParams& entry) {
    WebRequestParams params = entry;
    int pumped = 0;
    apply_response_head(head, params, [&] { ++pumped; });
    const Expected expected = reference_apply(head, entry);

    FUZZ_CHECK(params.response_headers == expected.headers);
    FUZZ_CHECK(params.status_text == expected.status_text);
    FUZZ_CHECK(params.location == expected.location);
    FUZZ_CHECK(params.response_cookies == expected.response_cookies);
    FUZZ_CHECK(params.request_cookies == expected.request_cookies);
    FUZZ_CHECK(pumped == expected.lines);

    // Pieces of the head.
    if (!params.status_text.empty()) {
        FUZZ_CHECK(
            params.response_headers.compare(9, params.status_text.size(), params.status_text) == 0);
    }
    if (params.location != entry.location) {
        FUZZ_CHECK(params.response_headers.find(params.location) != Text::npos);
    }
    const bool merged = entry.auto_merge_cookies && !entry.request_cookies.empty();
    if (merged) {
        FUZZ_CHECK(params.request_cookies == params.response_cookies);
        for (const std::string& pair : reference::split(params.response_cookies, "; ")) {
            FUZZ_CHECK(pair.size() < 8 || pair.compare(pair.size() - 8, 8, "=deleted") != 0);
        }
    } else {
        FUZZ_CHECK(params.request_cookies == entry.request_cookies);
        const std::string_view before = entry.response_cookies;
        FUZZ_CHECK(std::string_view(params.response_cookies).substr(0, before.size()) == before ||
                   (before.size() >= 2 && before.substr(before.size() - 2) == "; "));
    }
    // Fields the head does not speak of are left alone.
    FUZZ_CHECK(params.url == entry.url && params.response_bytes == entry.response_bytes);
}

// The collector, fed line by line, against the same steps done plainly.
NOTEPICS_FUZZ_ORACLE void check_collector(const std::vector<std::string_view>& lines) {
    ResponseHeadCollector collector;
    std::string current;
    std::string head;
    int code = 0;
    bool complete = false;
    for (const std::string_view line : lines) {
        collector.add_line(line);
        FUZZ_CHECK(collector.received_any());
        if (complete) {
            continue;
        }
        std::string_view content = line;
        if (!content.empty() && content.back() == '\n') {
            content.remove_suffix(1);
        }
        if (!content.empty() && content.back() == '\r') {
            content.remove_suffix(1);
        }
        current += content;
        current += kLineBreak;
        if (content.empty()) {
            const int status =
                status_code_of(std::string_view(current).substr(0, current.find('\r')));
            if (status >= 100 && status < 200) {
                current.clear();
            } else {
                head = current;
                code = status;
                complete = true;
            }
        }
        FUZZ_CHECK(collector.complete() == complete);
    }
    FUZZ_CHECK(collector.received_any() == !lines.empty());
    FUZZ_CHECK(collector.complete() == complete);
    FUZZ_CHECK(collector.head() == head);
    FUZZ_CHECK(collector.status_code() == code);
    if (complete) {
        FUZZ_CHECK(code < 100 || code >= 200);
        FUZZ_CHECK(head.size() >= 2 && head.compare(head.size() - 2, 2, kLineBreak) == 0);
        FUZZ_CHECK(head.size() == 2 || head.compare(head.size() - 4, 4, "\r\n\r\n") == 0);
    } else {
        FUZZ_CHECK(collector.head().empty());
    }
}

NOTEPICS_FUZZ_ORACLE void check_status_code(std::string_view line) {
    const int code = status_code_of(line);
    FUZZ_CHECK(code >= 0 && code <= 999);
    const std::size_t blank = line.find(' ');
    if (code > 0) {
        FUZZ_CHECK(blank != std::string_view::npos);
        FUZZ_CHECK(line[blank + 1] >= '0' && line[blank + 1] <= '9');
    }
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    WebRequestParams entry;
    entry.auto_merge_cookies = data.ConsumeBool();
    entry.request_cookies = data.ConsumeRandomLengthString(64);
    entry.response_cookies = data.ConsumeRandomLengthString(32);
    entry.location = data.ConsumeRandomLengthString(16);
    entry.status_text = data.ConsumeRandomLengthString(16);
    const std::string head = data.ConsumeRemainingBytesAsString();

    const ExactBuffer exact(head);
    check_apply(exact.view(), entry);

    std::vector<std::string_view> lines;
    std::vector<std::unique_ptr<ExactBuffer>> line_buffers;
    for (std::size_t start = 0; start < head.size();) {
        const std::size_t end = std::min(head.find('\n', start), head.size() - 1) + 1;
        line_buffers.push_back(
            std::make_unique<ExactBuffer>(std::string_view(head).substr(start, end - start)));
        lines.push_back(line_buffers.back()->view());
        start = end;
    }
    check_collector(lines);
    for (const std::string_view line : lines) {
        check_status_code(line);
    }

    ResponseHeadCollector collector;
    for (const std::string_view line : lines) {
        collector.add_line(line);
    }
    check_apply(collector.head(), entry);
    return 0;
}
