#include "web/charset.h"

#include <unicode/ucnv.h>

#include <cstring>
#include <memory>
#include <string>

#include "regex/regex_object.h"
#include "text/codepage.h"

namespace notepics {
namespace {

constexpr int kProbedBytes = 1024;
constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr char16_t kByteOrderMark = 0xFEFF;

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// UTF-16LE units of all of `bytes` decoded by `converter`; nothing when the
// converter fails.
std::optional<ByteBuffer> decode_to_utf16le(UConverter* converter, const ByteBuffer& bytes) {
    constexpr std::size_t kChunk = 8192;
    ByteBuffer units;
    units.reserve(bytes.size() * 2);
    UChar chunk[kChunk];
    const char* source = reinterpret_cast<const char*>(bytes.data());
    const char* const source_end = source + bytes.size();
    UErrorCode status = U_ZERO_ERROR;
    do {
        status = U_ZERO_ERROR;
        UChar* target = chunk;
        ucnv_toUnicode(converter, &target, chunk + kChunk, &source, source_end, nullptr, true,
                       &status);
        if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) {
            return std::nullopt;
        }
        std::size_t at = units.size();
        units.resize(at + 2 * static_cast<std::size_t>(target - chunk));
        for (const UChar* unit = chunk; unit != target; ++unit, at += 2) {
            units[at] = static_cast<std::uint8_t>(*unit & 0xFF);
            units[at + 1] = static_cast<std::uint8_t>(*unit >> 8);
        }
    } while (status == U_BUFFER_OVERFLOW_ERROR);
    return units;
}

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
    const std::string name(label);
    UErrorCode status = U_ZERO_ERROR;
    const Converter converter(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status) || converter == nullptr || name.empty()) {
        return std::nullopt;
    }
    std::optional<ByteBuffer> units = decode_to_utf16le(converter.get(), bytes);
    if (!units) {
        return std::nullopt;
    }
    UErrorCode name_status = U_ZERO_ERROR;
    const char* canonical = ucnv_getName(converter.get(), &name_status);
    const bool starts_with_mark = units->size() >= 2 && (*units)[0] == (kByteOrderMark & 0xFF) &&
                                  (*units)[1] == (kByteOrderMark >> 8);
    if (U_SUCCESS(name_status) && std::strcmp(canonical, "UTF-8") == 0 && starts_with_mark) {
        units->erase(units->begin(), units->begin() + 2);
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
