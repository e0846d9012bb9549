// Code pages through the system's own converters, MultiByteToWideChar and
// WideCharToMultiByte, with no default character. The results are those of
// the ICU back end (codepage_icu.cpp): in a code page of one or two bytes a
// character an invalid byte becomes U+FFFD without taking the next byte
// with it, a character the code page lacks becomes its default character
// "?" (never a look-alike), and so does a surrogate without partner. The
// program's code page is GBK (936) whatever the system's ANSI code page, so
// code page 0 means 936 here as well.
#include "text/codepage.h"

#include "text/charset_table.h"
#include "text/gbk_converter.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace notepics {

namespace {

constexpr int kSystemCodePage = 936;
constexpr int kUtf16Le = 1200;
constexpr int kUtf16Be = 1201;
constexpr int kUtf8 = 65001;

UINT system_code_page(int code_page) {
    return static_cast<UINT>(code_page == 0 ? kSystemCodePage : code_page);
}

// UTF-16 units of big- or little-endian byte pairs; a trailing odd byte
// becomes U+FFFD, as a converter that meets a cut character does.
std::u16string decode_utf16(std::string_view bytes, bool big_endian) {
    std::u16string units(bytes.size() / 2 + bytes.size() % 2, u'\0');
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        units[i / 2] =
            static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
    }
    if (bytes.size() % 2 != 0) {
        units.back() = u'\uFFFD';
    }
    return units;
}

bool is_high_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Whether `code_page` is one of one or two bytes a character (GBK, the
// Windows and ISO code pages), whose invalid bytes are replaced here.
bool is_byte_code_page(UINT code_page) {
    CPINFO info{};
    return code_page != kUtf8 && GetCPInfo(code_page, &info) && info.MaxCharSize <= 2;
}

// MultiByteToWideChar into a fresh string; empty when it fails.
std::u16string multi_byte_to_wide(UINT code_page, DWORD flags, std::string_view bytes) {
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(code_page, flags, bytes.data(), length, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::u16string units(static_cast<std::size_t>(needed), u'\0');
    const int written = MultiByteToWideChar(code_page, flags, bytes.data(), length,
                                            reinterpret_cast<wchar_t*>(units.data()), needed);
    units.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return units;
}

// Bytes of a one- or two-byte code page with invalid ones, a character at a
// time: a lead byte whose next byte is no valid second byte and a lead byte
// at the end each become U+FFFD, and the byte after such a lead byte is read
// again on its own. (Left to itself the
// system would take that byte into the replacement too, and a quote or a
// "<" after a stray lead byte would vanish.)
std::u16string decode_byte_by_byte(std::string_view bytes, UINT code_page) {
    std::u16string units;
    units.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x80) {
            units.push_back(byte);
            ++i;
            continue;
        }
        const bool lead = IsDBCSLeadByteEx(code_page, byte) != 0;
        const std::size_t length = lead && i + 1 < bytes.size() ? 2 : 1;
        // A byte that starts no pair reads as the code page's table says
        // (GBK's FF is U+F8F5); only a lead byte can be invalid.
        const std::u16string one =
            multi_byte_to_wide(code_page, lead ? MB_ERR_INVALID_CHARS : 0, bytes.substr(i, length));
        if (!one.empty()) {
            units += one;
            i += length;
        } else {
            units.push_back(u'\uFFFD');
            ++i;
        }
    }
    return units;
}

// UTF-16 units of all of `bytes` in `code_page`; empty when the system
// cannot convert them.
std::u16string decode(std::string_view bytes, UINT code_page) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    if (code_page == kUtf16Le || code_page == kUtf16Be) {
        return decode_utf16(bytes, code_page == kUtf16Be);
    }
    if (is_byte_code_page(code_page)) {
        std::u16string units = multi_byte_to_wide(code_page, MB_ERR_INVALID_CHARS, bytes);
        return units.empty() ? decode_byte_by_byte(bytes, code_page) : units;
    }
    return multi_byte_to_wide(code_page, 0, bytes);
}

// `units` with every surrogate that has no partner, and for a code page of
// one or two bytes a character also every pair (none of them holds a
// character beyond the first 65536), replaced by one "?" each.
std::u16string replace_surrogates(std::u16string_view units, bool keep_pairs) {
    std::u16string replaced;
    replaced.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (is_high_surrogate(unit) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            if (keep_pairs) {
                replaced += units.substr(i, 2);
            } else {
                replaced.push_back(u'?');
            }
            ++i;
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            replaced.push_back(u'?');
        } else {
            replaced.push_back(unit);
        }
    }
    return replaced;
}

// Bytes in `code_page` of `units` (no NUL unit); empty when the system
// cannot convert them. Characters a code page lacks become its default
// character, never a look-alike (no best fit: U+FF0F is no "/").
Text encode(std::u16string_view units, UINT code_page) {
    if (units.empty() || units.size() > static_cast<std::size_t>(INT_MAX)) {
        return {};
    }
    const bool byte_code_page = is_byte_code_page(code_page);
    const std::u16string clean = replace_surrogates(units, !byte_code_page);
    const DWORD flags = byte_code_page ? WC_NO_BEST_FIT_CHARS : 0;
    const auto* wide = reinterpret_cast<const wchar_t*>(clean.data());
    const int length = static_cast<int>(clean.size());
    const int needed =
        WideCharToMultiByte(code_page, flags, wide, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return {};
    }
    Text bytes(static_cast<std::size_t>(needed), '\0');
    const int written =
        WideCharToMultiByte(code_page, flags, wide, length, bytes.data(), needed, nullptr, nullptr);
    bytes.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return bytes;
}

ByteBuffer to_little_endian(std::u16string_view units, bool terminate) {
    ByteBuffer bytes;
    bytes.reserve(2 * units.size() + 2);
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    if (terminate && !bytes.empty()) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

// The whole UTF-16LE units of `bytes` before the first NUL unit.
std::u16string units_before_nul(const ByteBuffer& bytes) {
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 2 <= bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        units.push_back(unit);
    }
    return units;
}

std::string_view as_chars(const ByteBuffer& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// UTF-16LE units of `bytes` up to the first zero byte, then one NUL unit;
// empty when nothing converts.
ByteBuffer to_utf16(std::string_view bytes, int code_page) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::u16string units = decode(bytes, system_code_page(code_page));
    units.resize(std::min(units.find(u'\0'), units.size()));
    return to_little_endian(units, true);
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
    return to_utf16(as_chars(bytes), code_page);
}

Text utf16_to_code_page(const ByteBuffer& bytes, int code_page, bool use_code_page) {
    if (!use_code_page) {
        code_page = 0;
    }
    Text encoded = encode(units_before_nul(bytes), system_code_page(code_page));
    encoded.resize(std::min(encoded.find('\0'), encoded.size()));
    return encoded;
}

std::u16string gbk_to_utf16_units(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::u16string units(text.size(), u'\0');
    units.resize(gbk_to_utf16_units(text, units.data()));
    return units;
}

std::size_t gbk_to_utf16_units(std::string_view text, char16_t* out) {
    text = text.substr(0, text.find('\0'));
    const std::u16string units = decode(text, kSystemCodePage);
    std::copy(units.begin(), units.end(), out);  // never more units than bytes
    return units.size();
}

Text utf16_units_to_gbk(std::u16string_view units) {
    units = units.substr(0, units.find(u'\0'));
    return encode(units, kSystemCodePage);
}

bool converter_available(std::string_view converter) {
    const int code_page = converter_code_page(converter);
    return code_page == kUtf16Le || code_page == kUtf16Be ||
           (code_page != 0 && IsValidCodePage(static_cast<UINT>(code_page)));
}

std::optional<ByteBuffer> charset_to_utf16(const ByteBuffer& bytes, std::string_view label) {
    if (label.empty() || label.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    // A converter name of the label table, or a web label of one.
    int code_page = converter_code_page(label);
    if (code_page == 0) {
        code_page = converter_code_page(charset_label_converter(label));
    }
    if (code_page == 0) {
        return std::nullopt;
    }
    std::u16string units = decode(as_chars(bytes), static_cast<UINT>(code_page));
    units.resize(std::min(units.find(u'\0'), units.size()));
    if (code_page == kUtf8 && !units.empty() && units.front() == u'\uFEFF') {
        units.erase(0, 1);
    }
    return to_little_endian(units, false);
}

}  // namespace notepics
