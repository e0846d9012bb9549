// Re-decoding a page whose meta tag declares a charset other than GBK.
//
//   ByteBuffer body = text_to_bytes("<meta charset=\"utf-8\">\xE4\xB8\xAD");
//   convert_declared_charset(bytes_to_text(body), body) == "<meta charset=\"utf-8\">\xD6\xD0"
#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "text/text.h"

namespace notepics {

// The charset label a page declares: the capture of
// "<meta.+?charset=[^\w]?([-\w]+)" (ignoring case, "." not crossing a line
// feed) in the first 1024 bytes of `body_text`, as written. Empty when
// there is no such tag. Sets `searched` when the pattern ran.
Text declared_charset(std::string_view body_text, bool* searched = nullptr);

// The whole of `bytes` decoded from the charset `label` names (resolved as
// browsers resolve labels: web_charset_to_utf16 in text/codepage.h), as GBK
// text up to the first NUL character; characters GBK lacks become "?", and
// a byte-order mark at the start of UTF-8 is dropped. Nothing when the
// label names no charset that table knows.
std::optional<Text> decode_to_gbk(const ByteBuffer& bytes, std::string_view label);

// The body text to return for a response: `body_text` (the body's bytes up
// to the first zero byte) unless the page declares a charset other than
// "gbk" and "gb2312" (compared case-sensitively) that the label table knows;
// then all of `body_bytes` decoded from that charset. Calls
// `process_pending_messages` once when the meta tag search ran.
Text convert_declared_charset(Text body_text, const ByteBuffer& body_bytes,
                              const std::function<void()>& process_pending_messages = {});

}  // namespace notepics
