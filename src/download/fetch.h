// One plain HTTP GET of a picture, on the caller's thread.
//
// The request is exactly "GET <path> HTTP/1.0" with Host, the user agent
// "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)" and "Accept: */*":
// no cookie, no proxy (also none named by the environment), no compression.
// https certificates are verified against the system's trust store.
// Redirects are followed, at most 10, to http and https addresses only.
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
#include <string_view>

#include "text/text.h"

namespace notepics {

// The largest picture the program accepts: 256 MiB.
inline constexpr std::size_t kMaxPictureBytes = std::size_t{256} << 20;

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address);
std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes);

// As above, with `timeout_seconds` (0 or less: 30) as the limit for
// connecting and for each stretch without a byte arriving.
//   fetch_url_bytes(address, kMaxPictureBytes, 1);  // a silent server fails after 1 s
std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes,
                                          int timeout_seconds);

}  // namespace notepics
