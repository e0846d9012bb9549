// One plain HTTP GET of a picture, on the caller's thread.
//
// The request is exactly "GET <path> HTTP/1.0" with Host, the user agent
// "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)" and "Accept: */*":
// no cookie, no proxy (also none named by the environment), no compression.
// https certificates are verified against the system's trust store.
// Redirects are followed, at most 10, to http and https addresses only and
// never from https down to http.
// Window events are never let through. Connecting must succeed within the
// time-out, and the download ends as failed once no byte has arrived for
// that long (30 seconds unless told otherwise).
//
// The download succeeded when the final response has a status of 200-299
// and its whole body arrived, at most `max_bytes` of it. Anything else (an
// address that is not absolute http/https, no connection, no response,
// another status, a body cut off or too large) gives no bytes at all.
//
//   std::optional<ByteBuffer> picture = fetch_url_bytes("https://pictures.example/abc");
//   if (picture) save(*picture);
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "text/text.h"
#include "web/transfer.h"

namespace notepics {

// The largest picture the program accepts: 256 MiB.
inline constexpr std::size_t kMaxPictureBytes = kMaxBodyBytes;

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address);
std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes);

// As above, with `timeout_seconds` (0 or less: 30) as the limit for
// connecting and for each stretch without a byte arriving.
//   fetch_url_bytes(address, kMaxPictureBytes, 1);  // a silent server fails after 1 s
std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes,
                                          int timeout_seconds);

// A successful download with what the final response said about it.
struct FetchedResponse {
    int status = 0;            // 200-299
    std::string content_type;  // the Content-Type value, empty when the answer named none
    ByteBuffer body;
};

// As fetch_url_bytes, with the final response's status and Content-Type
// beside the body; nothing exactly when fetch_url_bytes gives nothing.
//   fetch_url_response(address)->content_type == "image/webp"
std::optional<FetchedResponse> fetch_url_response(std::string_view address,
                                                  std::size_t max_bytes = kMaxPictureBytes,
                                                  int timeout_seconds = 0);

// True when a successful answer can be a picture: its body is not empty and
// its Content-Type names neither text nor JSON (text/*, application/json,
// application/*+json, application/xhtml+xml; parameters and case aside).
// Any other type, and none at all, can. The bytes themselves are not looked at.
//   is_picture_answer({.status = 200, .content_type = "image/webp", .body = {1}}) == true
//   is_picture_answer({.status = 200, .content_type = "text/html; charset=utf-8", .body = {1}})
//       == false
bool is_picture_answer(const FetchedResponse& response);

// The bytes of the picture at `address`: fetch_url_response, and nothing
// when the answer is no picture (is_picture_answer).
std::optional<ByteBuffer> fetch_picture(std::string_view address, std::size_t max_bytes,
                                        int timeout_seconds);

}  // namespace notepics
