#include "download/fetch.h"

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

}  // namespace

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
