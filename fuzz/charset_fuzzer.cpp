// Charset conversion: declared_charset, decode_to_gbk and
// convert_declared_charset on arbitrary bodies and labels. Checked:
// - the declared charset is empty or a run of letters, digits, "_" and "-"
//   written in the first 1024 bytes of the body after "charset=";
// - the body text comes back unchanged unless the page declares a charset
//   other than "gbk" and "gb2312" that the web's label table knows, and then
//   it is the whole body decoded from that charset; the pump runs exactly
//   once;
// - a label decodes exactly when the label table names a converter for it;
// - decoding never yields a zero byte, and what it yields is GBK that
//   survives a trip through UTF-16;
// - valid GBK written as UTF-8 (with or without a byte-order mark) or as
//   UTF-16LE decodes back to itself.
//
// Input: the label, then the body.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text/codepage.h"
#include "web/charset.h"

namespace notepics {
namespace {

constexpr int kProbedBytes = 1024;

NOTEPICS_FUZZ_ORACLE bool is_label_char(char c) {
    return c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
           (c >= 'A' && c <= 'Z');
}

NOTEPICS_FUZZ_ORACLE ByteBuffer as_buffer(std::string_view bytes) {
    return ByteBuffer(bytes.begin(), bytes.end());
}

NOTEPICS_FUZZ_ORACLE void check_decoded(const std::optional<Text>& decoded) {
    if (decoded) {
        FUZZ_CHECK(decoded->find('\0') == Text::npos);
        FUZZ_CHECK(utf16_to_ansi(ansi_to_utf16(*decoded)) == *decoded);
    }
}

NOTEPICS_FUZZ_ORACLE void check_declared(std::string_view body_text, const ByteBuffer& body_bytes) {
    bool searched = false;
    const Text charset = declared_charset(body_text, &searched);
    FUZZ_CHECK(searched);  // the pattern always compiles and runs
    const std::string_view head = body_text.substr(0, kProbedBytes);
    if (!charset.empty()) {
        for (const char c : charset) {
            FUZZ_CHECK(is_label_char(c));
        }
        FUZZ_CHECK(head.find(charset) != std::string_view::npos);
        bool tag = false;
        for (std::size_t i = 0; i < head.size() && !tag; ++i) {
            tag = reference::matches_at(head, i, "<meta", true);
        }
        FUZZ_CHECK(tag);
    }

    int pumped = 0;
    const Text result = convert_declared_charset(Text(body_text), body_bytes, [&] { ++pumped; });
    FUZZ_CHECK(pumped == 1);
    if (charset.empty() || charset == "gbk" || charset == "gb2312") {
        FUZZ_CHECK(result == body_text);
    } else {
        const std::optional<Text> decoded = decode_to_gbk(body_bytes, charset);
        check_decoded(decoded);
        FUZZ_CHECK(result == (decoded ? *decoded : Text(body_text)));
    }
}

NOTEPICS_FUZZ_ORACLE void check_round_trips(std::string_view input) {
    const std::string gbk = fuzz::valid_gbk(input);
    const ByteBuffer utf16 = ansi_to_utf16(gbk, true);
    const Text utf8 = utf16_to_code_page(utf16, 65001, true);

    const std::optional<Text> from_utf8 = decode_to_gbk(as_buffer(utf8), "utf-8");
    FUZZ_CHECK(from_utf8 && *from_utf8 == gbk);
    const std::optional<Text> with_mark = decode_to_gbk(as_buffer("\xEF\xBB\xBF" + utf8), "UTF-8");
    FUZZ_CHECK(with_mark && *with_mark == gbk);
    const std::optional<Text> from_utf16 = decode_to_gbk(utf16, "utf-16le");
    FUZZ_CHECK(from_utf16 && *from_utf16 == gbk);

    // A page that declares UTF-8 comes back decoded.
    const Text page = "<meta charset=\"utf-8\">" + utf8;
    FUZZ_CHECK(convert_declared_charset(page, as_buffer(page)) == "<meta charset=\"utf-8\">" + gbk);
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    const std::string label = data.ConsumeRandomLengthString(40);
    const std::string body = data.ConsumeRemainingBytesAsString();
    const ByteBuffer body_bytes = as_buffer(body);

    // The body text of a response: its bytes up to the first zero byte.
    check_declared(bytes_to_text(body_bytes), body_bytes);
    check_declared(body, body_bytes);

    const std::optional<Text> decoded = decode_to_gbk(body_bytes, label);
    check_decoded(decoded);
    FUZZ_CHECK(decoded.has_value() == !charset_label_converter(label).empty());
    check_decoded(decode_to_gbk(body_bytes, "utf-8"));
    check_round_trips(body);
    return 0;
}
