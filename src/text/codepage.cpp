#include "text/codepage.h"

#include <unicode/ucnv.h>

#include <algorithm>
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

ConverterPtr open_converter(const char* name) {
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(name, &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    // Characters a code page lacks come out as "?".
    UErrorCode subst_status = U_ZERO_ERROR;
    ucnv_setSubstChars(converter.get(), "?", 1, &subst_status);
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

std::u16string decode(UConverter* converter, std::string_view bytes) {
    // A code page character never yields more UTF-16 units than it has bytes,
    // except for multi-unit mappings, which the retry below covers.
    std::u16string units(bytes.size() + 1, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t written =
            ucnv_toUChars(converter, units.data(), static_cast<int32_t>(units.size()), bytes.data(),
                          static_cast<int32_t>(bytes.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            units.assign(static_cast<std::size_t>(written) + 1, u'\0');
            continue;
        }
        if (U_FAILURE(status)) {
            return {};
        }
        units.resize(static_cast<std::size_t>(written));
        return units;
    }
    return {};
}

Text encode(UConverter* converter, std::u16string_view units) {
    Text bytes(units.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter)) + 1, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        UErrorCode status = U_ZERO_ERROR;
        const int32_t written =
            ucnv_fromUChars(converter, bytes.data(), static_cast<int32_t>(bytes.size()),
                            units.data(), static_cast<int32_t>(units.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            bytes.assign(static_cast<std::size_t>(written) + 1, '\0');
            continue;
        }
        if (U_FAILURE(status)) {
            return {};
        }
        bytes.resize(static_cast<std::size_t>(written));
        return bytes;
    }
    return {};
}

}  // namespace

ByteBuffer ansi_to_utf16(std::string_view text, bool strip) {
    ByteBuffer units = code_page_to_utf16(text_to_bytes(text), kSystemCodePage);
    return strip ? cut_utf16_at_nul(units, false) : units;
}

Text utf16_to_ansi(const ByteBuffer& bytes) {
    return utf16_to_code_page(bytes, kSystemCodePage, true);
}

ByteBuffer code_page_to_utf16(const ByteBuffer& bytes, int code_page) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const std::string_view input(reinterpret_cast<const char*>(bytes.data()),
                                 static_cast<std::size_t>(end - bytes.begin()));
    // The conversion works on int32_t lengths.
    if (input.empty() || input.size() > static_cast<std::size_t>(INT32_MAX / 2 - 1)) {
        return {};
    }
    UConverter* converter = converter_for(code_page);
    if (converter == nullptr) {
        return {};
    }
    const std::u16string units = decode(converter, input);
    if (units.empty()) {
        return {};
    }
    // Units up to the first NUL unit a decoder might produce, then one NUL.
    const std::size_t kept = std::min(units.find(u'\0'), units.size());
    ByteBuffer result((kept + 1) * 2, 0);
    for (std::size_t i = 0; i < kept; ++i) {
        result[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
        result[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
    }
    return result;
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
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 2 <= bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == u'\0') {
            break;
        }
        units.push_back(unit);
    }
    if (units.empty() || units.size() > static_cast<std::size_t>(INT32_MAX / 4)) {
        return {};
    }
    UConverter* converter = converter_for(code_page);
    if (converter == nullptr) {
        return {};
    }
    Text encoded = encode(converter, units);
    encoded.resize(std::min(encoded.find('\0'), encoded.size()));
    return encoded;
}

}  // namespace notepics
