#include "download/fetch.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "web/transfer.h"

namespace notepics {
namespace {

constexpr std::string_view kUserAgentLine =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr std::string_view kAcceptLine = "Accept: */*";

// The plain GET of a picture, set up step by step; false when a step was
// refused.
bool set_up(Transfer& transfer, const WebAddress& address, std::size_t max_bytes,
            int timeout_seconds) {
    const std::vector<std::string> lines = {std::string(kUserAgentLine), std::string(kAcceptLine)};
    return transfer.ready() && transfer.open_session("") &&
           transfer.limit_time(time_limit_of(timeout_seconds)) && transfer.aim_at(address) &&
           transfer.set_request({.method = "GET",
                                 .body = {},
                                 .version = HttpVersion::v1_0,
                                 .max_body_bytes = max_bytes,
                                 .over_limit = OverLimit::give_up}) &&
           transfer.set_certificates(Certificates::verify) &&
           transfer.set_redirects(Redirects::follow) && transfer.set_header_lines(lines, lines);
}

// The media type of a Content-Type value: before any ";", without blanks,
// in lower case.
std::string media_type(std::string_view content_type) {
    std::string_view type = content_type.substr(0, content_type.find(';'));
    const std::size_t first = type.find_first_not_of(" \t");
    type = first == std::string_view::npos
               ? std::string_view()
               : type.substr(first, type.find_last_not_of(" \t") + 1 - first);
    std::string lowered(type);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered;
}

bool names_text_or_json(std::string_view content_type) {
    const std::string type = media_type(content_type);
    const auto ends_with = [&type](std::string_view tail) {
        return type.size() >= tail.size() &&
               type.compare(type.size() - tail.size(), tail.size(), tail) == 0;
    };
    return type.rfind("text/", 0) == 0 || type == "application/json" ||
           type == "application/xhtml+xml" ||
           (type.rfind("application/", 0) == 0 && ends_with("+json"));
}

}  // namespace

bool is_picture_answer(const FetchedResponse& response) {
    return !response.body.empty() && !names_text_or_json(response.content_type);
}

std::optional<ByteBuffer> fetch_picture(std::string_view address, std::size_t max_bytes,
                                        int timeout_seconds) {
    std::optional<FetchedResponse> response =
        fetch_url_response(address, max_bytes, timeout_seconds);
    if (!response || !is_picture_answer(*response)) {
        return std::nullopt;
    }
    return std::move(response->body);
}

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address) {
    return fetch_url_bytes(address, kMaxPictureBytes);
}

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes) {
    return fetch_url_bytes(address, max_bytes, kDefaultTimeoutSeconds);
}

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes,
                                          int timeout_seconds) {
    std::optional<FetchedResponse> response =
        fetch_url_response(address, max_bytes, timeout_seconds);
    if (!response) {
        return std::nullopt;
    }
    return std::move(response->body);
}

std::optional<FetchedResponse> fetch_url_response(std::string_view address, std::size_t max_bytes,
                                                  int timeout_seconds) {
    const std::optional<WebAddress> parsed = parse_web_address(address);
    if (!parsed) {
        return std::nullopt;
    }
    Transfer transfer;
    if (!set_up(transfer, *parsed, max_bytes, timeout_seconds)) {
        return std::nullopt;
    }
    // No response, a broken-off read, too many bytes or another status than
    // 2xx: nothing.
    TransferResult result = transfer.perform();
    if (result.end != TransferEnd::complete || result.status < 200 || result.status > 299) {
        return std::nullopt;
    }
    return FetchedResponse{.status = result.status,
                           .content_type = std::move(result.content_type),
                           .body = std::move(result.body)};
}

}  // namespace notepics
