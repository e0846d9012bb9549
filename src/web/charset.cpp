#include "web/charset.h"

#include "regex/regex_object.h"
#include "text/codepage.h"

namespace notepics {
namespace {

constexpr int kProbedBytes = 1024;
constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";

}  // namespace

Text declared_charset(std::string_view body_text, bool* searched) {
    RegexObject regex;
    const bool ran = regex.search(kCharsetPattern, text_head(body_text, kProbedBytes));
    if (searched != nullptr) {
        *searched = ran;
    }
    return ran ? regex.submatch_text(1, 1) : Text();
}

std::optional<Text> decode_to_gbk(const ByteBuffer& bytes, std::string_view label) {
    std::optional<ByteBuffer> units = web_charset_to_utf16(bytes, label);
    if (!units) {
        return std::nullopt;
    }
    return utf16_to_ansi(*units);
}

Text convert_declared_charset(Text body_text, const ByteBuffer& body_bytes,
                              const std::function<void()>& process_pending_messages) {
    bool searched = false;
    const Text charset = declared_charset(body_text, &searched);
    if (!searched) {
        return body_text;
    }
    if (!charset.empty() && charset != "gbk" && charset != "gb2312") {
        if (std::optional<Text> decoded = decode_to_gbk(body_bytes, charset)) {
            body_text = std::move(*decoded);
        }
    }
    if (process_pending_messages) {
        process_pending_messages();
    }
    return body_text;
}

}  // namespace notepics
