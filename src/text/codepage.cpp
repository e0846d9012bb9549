#include "text/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>

namespace notepics {

namespace {

constexpr int kSystemCodePage = 936;

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// Writes the substitute for every character a code page lacks. ICU's own
// substitute callback writes nothing for invisible characters (zero-width
// space, soft hyphen, variation selectors); here they become "?" as well.
void substitute_unmappable(const void* /*context*/, UConverterFromUnicodeArgs* args,
                           const UChar* /*units*/, int32_t /*length*/, UChar32 /*code_point*/,
                           UConverterCallbackReason reason, UErrorCode* status) {
    if (reason <= UCNV_IRREGULAR) {
        *status = U_ZERO_ERROR;
        ucnv_cbFromUWriteSub(args, 0, status);
    }
}

ConverterPtr open_converter(const char* name) {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name, &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    // Characters a code page lacks come out as "?".
    UErrorCode subst_status = U_ZERO_ERROR;
    ucnv_setSubstChars(converter.get(), "?", 1, &subst_status);
    ucnv_setFromUCallBack(converter.get(), substitute_unmappable, nullptr, nullptr, nullptr,
                          &subst_status);
    return converter;
}

ConverterPtr open_code_page(int code_page) {
    switch (code_page) {
        case 0:
        case 936:
            return open_converter("windows-936-2000");
        case 65001:
            return open_converter("UTF-8");
        case 1200:
            return open_converter("UTF-16LE");
        case 1201:
            return open_converter("UTF-16BE");
        default:
            break;
    }
    for (const char* prefix : {"windows-", "cp", "ibm-"}) {
        const std::string name = prefix + std::to_string(code_page);
        if (ConverterPtr converter = open_converter(name.c_str())) {
            return converter;
        }
    }
    return nullptr;
}

// One converter per code page and thread, opened on first use.
UConverter* converter_for(int code_page) {
    thread_local std::unordered_map<int, ConverterPtr> converters;
    if (code_page == 0) {
        code_page = kSystemCodePage;
    }
    auto found = converters.find(code_page);
    if (found == converters.end()) {
        found = converters.emplace(code_page, open_code_page(code_page)).first;
    }
    return found->second.get();
}

// Conversions run in pieces of this many input bytes or units through a
// stack buffer, so that a large text costs no temporary copy of its own size.
constexpr std::size_t kChunk = 16384;

// Appends UTF-16 units to `out` low byte first.
void append_little_endian(ByteBuffer& out, const UChar* units, std::size_t count) {
    if constexpr (std::endian::native == std::endian::little) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(units);
        out.insert(out.end(), bytes, bytes + 2 * count);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            out.push_back(static_cast<std::uint8_t>(units[i] & 0xFF));
            out.push_back(static_cast<std::uint8_t>(units[i] >> 8));
        }
    }
}

// Reads `count` little-endian UTF-16 units from `bytes` into `units`.
void read_little_endian(const std::uint8_t* bytes, std::size_t count, UChar* units) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(units, bytes, 2 * count);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            units[i] = static_cast<UChar>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
    }
}

// UTF-16LE units of `bytes`, up to a NUL unit the converter itself might
// produce; empty on failure.
ByteBuffer decode(UConverter* converter, std::string_view bytes) {
    ucnv_resetToUnicode(converter);
    ByteBuffer result;
    // Enough for every code page that gives at most one unit per byte; the
    // pages past the units written are never touched.
    result.reserve(2 * bytes.size() + 2);
    UChar units[kChunk];
    const char* source = bytes.data();
    const char* const end = source + bytes.size();
    bool flushed = false;
    while (!flushed) {
        const char* const piece_end =
            end - source > static_cast<std::ptrdiff_t>(kChunk) ? source + kChunk : end;
        flushed = piece_end == end;
        UErrorCode status = U_ZERO_ERROR;
        do {
            status = U_ZERO_ERROR;
            UChar* target = units;
            ucnv_toUnicode(converter, &target, units + kChunk, &source, piece_end, nullptr, flushed,
                           &status);
            if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) {
                ucnv_resetToUnicode(converter);
                return {};
            }
            const UChar* const written = target;
            const UChar* const nul = std::find(static_cast<const UChar*>(units), written, UChar{0});
            append_little_endian(result, units, static_cast<std::size_t>(nul - units));
            if (nul != written) {
                ucnv_resetToUnicode(converter);
                return result;
            }
        } while (status == U_BUFFER_OVERFLOW_ERROR);
    }
    return result;
}

// Bytes in the converter's code page of the first `count` units of `bytes`
// (UTF-16LE, holding no NUL unit); empty on failure.
Text encode(UConverter* converter, const std::uint8_t* bytes, std::size_t count) {
    ucnv_resetFromUnicode(converter);
    Text result;
    // Enough for every unit; the pages past the bytes written are never touched.
    result.reserve(count * static_cast<std::size_t>(ucnv_getMaxCharSize(converter)));
    UChar units[kChunk];
    char out[2 * kChunk];
    for (std::size_t done = 0; done < count;) {
        const std::size_t piece = std::min(kChunk, count - done);
        read_little_endian(bytes + 2 * done, piece, units);
        done += piece;
        const UChar* source = units;
        UErrorCode status = U_ZERO_ERROR;
        do {
            status = U_ZERO_ERROR;
            char* target = out;
            ucnv_fromUnicode(converter, &target, out + sizeof out, &source, units + piece, nullptr,
                             done == count, &status);
            if (U_FAILURE(status) && status != U_BUFFER_OVERFLOW_ERROR) {
                ucnv_resetFromUnicode(converter);
                return {};
            }
            result.append(out, static_cast<std::size_t>(target - out));
        } while (status == U_BUFFER_OVERFLOW_ERROR);
    }
    return result;
}

// Number of whole UTF-16LE units in `bytes` before the first NUL unit.
std::size_t units_before_nul(const ByteBuffer& bytes) {
    std::size_t offset = 0;
    while (offset + 2 <= bytes.size() && (bytes[offset] != 0 || bytes[offset + 1] != 0)) {
        offset += 2;
    }
    return offset / 2;
}

// UTF-16LE units of `bytes` up to the first zero byte, then one NUL unit;
// empty when nothing converts.
ByteBuffer to_utf16(std::string_view bytes, int code_page) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.empty()) {
        return {};
    }
    UConverter* converter = converter_for(code_page);
    if (converter == nullptr) {
        return {};
    }
    ByteBuffer units = decode(converter, bytes);
    if (units.empty()) {
        return {};
    }
    units.push_back(0);
    units.push_back(0);
    return units;
}

}  // namespace

ByteBuffer ansi_to_utf16(std::string_view text, bool strip) {
    ByteBuffer units = to_utf16(text, kSystemCodePage);
    if (strip && !units.empty()) {
        units.resize(units.size() - 2);  // the only NUL unit is the last one
    }
    return units;
}

Text utf16_to_ansi(const ByteBuffer& bytes) {
    return utf16_to_code_page(bytes, kSystemCodePage, true);
}

ByteBuffer code_page_to_utf16(const ByteBuffer& bytes, int code_page) {
    return to_utf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                    code_page);
}

ByteBuffer cut_utf16_at_nul(const ByteBuffer& bytes, bool keep_terminator) {
    if (bytes.size() < 2) {
        return {};
    }
    std::size_t end = 0;
    while (end + 2 <= bytes.size() && (bytes[end] != 0 || bytes[end + 1] != 0)) {
        end += 2;
    }
    if (end == 0) {
        return {};
    }
    ByteBuffer result(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
    if (keep_terminator) {
        result.push_back(0);
        result.push_back(0);
    }
    return result;
}

Text utf16_to_code_page(const ByteBuffer& bytes, int code_page, bool use_code_page) {
    if (!use_code_page) {
        code_page = 0;
    }
    // Whole units up to the first NUL unit; a trailing odd byte is dropped.
    const std::size_t count = units_before_nul(bytes);
    if (count == 0) {
        return {};
    }
    UConverter* converter = converter_for(code_page);
    if (converter == nullptr) {
        return {};
    }
    Text encoded = encode(converter, bytes.data(), count);
    encoded.resize(std::min(encoded.find('\0'), encoded.size()));
    return encoded;
}

std::optional<ByteBuffer> charset_to_utf16(const ByteBuffer& bytes, std::string_view label) {
    if (label.empty() || label.find('\0') != std::string_view::npos) {
        return std::nullopt;  // an empty name would open the default converter
    }
    const ConverterPtr converter = open_converter(std::string(label).c_str());
    if (converter == nullptr) {
        return std::nullopt;
    }
    ByteBuffer units =
        decode(converter.get(),
               std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    UErrorCode status = U_ZERO_ERROR;
    const char* name = ucnv_getName(converter.get(), &status);
    const bool starts_with_mark = units.size() >= 2 && units[0] == 0xFF && units[1] == 0xFE;
    if (U_SUCCESS(status) && std::strcmp(name, "UTF-8") == 0 && starts_with_mark) {
        units.erase(units.begin(), units.begin() + 2);
    }
    return units;
}

}  // namespace notepics
