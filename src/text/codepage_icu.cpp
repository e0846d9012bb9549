#include "text/codepage.h"

#include "text/ascii_runs.h"
#include "text/charset_table.h"
#include "text/gbk_converter.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/uset.h>

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

struct UnicodeSetCloser {
    void operator()(USet* set) const { uset_close(set); }
};
using UnicodeSetPtr = std::unique_ptr<USet, UnicodeSetCloser>;

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
            return open_converter(kGbkConverter);
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

// GBK through lookup tables filled from the system code page's converter
// once, at first use, so that ICU stays the authority for every mapping.
// ASCII never reaches them (widen_ascii / narrow_ascii copy it directly);
// what they cannot answer alone (a byte that starts no two-byte code, a
// surrogate) goes to the converter itself, a short stretch at a time.
class GbkTables {
  public:
    static const GbkTables& instance() {
        static const GbkTables tables;
        return tables;
    }

    // The unit of the two-byte code `lead` `trail`; 0 when the code does not
    // decode to exactly one unit on its own.
    char16_t decode_pair(unsigned char lead, unsigned char trail) const {
        return lead >= kFirstLead && lead <= kLastLead
                   ? pair_units_[(lead - kFirstLead) * 256u + trail]
                   : u'\0';
    }

    // GBK bytes of a unit of 0x80 or above: a lead byte in the high half and
    // a trail byte in the low half, or one byte alone; 0 for a surrogate.
    std::uint16_t encode_unit(char16_t unit) const { return unit_bytes_[unit]; }

    bool ready() const { return ready_; }

  private:
    static constexpr unsigned kFirstLead = 0x81;
    static constexpr unsigned kLastLead = 0xFE;
    static constexpr unsigned kLeads = kLastLead - kFirstLead + 1;

    GbkTables() : pair_units_(kLeads * 256u, u'\0'), unit_bytes_(0x10000, 0) {
        const ConverterPtr converter = open_converter(kGbkConverter);
        ready_ = converter != nullptr && fill_pairs(converter.get()) && fill_units(converter.get());
    }

    // Every possible two-byte code, decoded on its own.
    bool fill_pairs(UConverter* converter) {
        for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
                UChar units[4];
                UChar* target = units;
                const char* source = pair;
                UErrorCode status = U_ZERO_ERROR;
                ucnv_toUnicode(converter, &target, units + 4, &source, pair + 2, nullptr, true,
                               &status);
                if (U_FAILURE(status)) {
                    return false;
                }
                if (target - units == 1 && units[0] != 0) {
                    pair_units_[(lead - kFirstLead) * 256u + trail] = units[0];
                }
            }
        }
        return true;
    }

    // Every unit from 0x80 on but the surrogates: those the converter maps
    // encoded in one call (the offsets tell which unit each byte came from),
    // the others are its substitute "?".
    bool fill_units(UConverter* converter) {
        const UnicodeSetPtr mapped(uset_openEmpty());
        UErrorCode set_status = U_ZERO_ERROR;
        ucnv_getUnicodeSet(converter, mapped.get(), UCNV_ROUNDTRIP_AND_FALLBACK_SET, &set_status);
        if (U_FAILURE(set_status)) {
            return false;
        }
        std::vector<UChar> units;
        for (unsigned unit = 0x80; unit <= 0xFFFF; ++unit) {
            if (unit >= 0xD800 && unit <= 0xDFFF) {
                continue;
            }
            if (uset_contains(mapped.get(), static_cast<UChar32>(unit))) {
                units.push_back(static_cast<UChar>(unit));
            } else {
                unit_bytes_[unit] = '?';
            }
        }
        std::vector<char> bytes(units.size() * 4);
        std::vector<int32_t> offsets(bytes.size());
        char* target = bytes.data();
        const UChar* source = units.data();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter, &target, bytes.data() + bytes.size(), &source,
                         units.data() + units.size(), offsets.data(), true, &status);
        if (U_FAILURE(status)) {
            return false;
        }
        const std::size_t written = static_cast<std::size_t>(target - bytes.data());
        std::vector<std::uint8_t> lengths(units.size(), 0);
        std::vector<std::uint16_t> encoded(units.size(), 0);
        for (std::size_t k = 0; k < written; ++k) {
            const auto from = static_cast<std::size_t>(offsets[k]);
            if (offsets[k] < 0 || from >= units.size() || ++lengths[from] > 2) {
                return false;
            }
            encoded[from] = static_cast<std::uint16_t>((encoded[from] << 8) |
                                                       static_cast<unsigned char>(bytes[k]));
        }
        for (std::size_t k = 0; k < units.size(); ++k) {
            // One byte alone, or a pair whose first byte is a lead byte (so
            // that the high half tells the two apart).
            const bool usable = lengths[k] == 1 || (lengths[k] == 2 && encoded[k] >= 0x8100);
            if (!usable || encoded[k] == 0) {
                return false;
            }
            unit_bytes_[units[k]] = encoded[k];
        }
        return true;
    }

    std::vector<char16_t> pair_units_;
    std::vector<std::uint16_t> unit_bytes_;
    bool ready_ = false;
};

// Decodes `bytes[from, to)` with the converter itself, flushing at the end,
// into `out` (room for `to - from` units); the count, or nothing on failure.
std::optional<std::size_t> decode_stretch(UConverter* converter, std::string_view bytes,
                                          std::size_t from, std::size_t to, char16_t* out) {
    ucnv_resetToUnicode(converter);
    const char* source = bytes.data() + from;
    UChar* target = reinterpret_cast<UChar*>(out);
    UErrorCode status = U_ZERO_ERROR;
    ucnv_toUnicode(converter, &target, target + (to - from), &source, bytes.data() + to, nullptr,
                   true, &status);
    if (U_FAILURE(status) || source != bytes.data() + to) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(target - reinterpret_cast<UChar*>(out));
}

// ASCII runs up to this long are copied one by one, longer ones handed to the
// vector routines.
constexpr std::size_t kShortRun = 4;

// Decodes GBK `bytes` (no zero byte) from `in` on into `out`, stopping at
// the first character boundary at or past `limit` (<= bytes.size()), and
// moves `in` there. `out` needs room for limit - in + 1 units (a GBK byte
// gives at most one; the last character may end one byte past `limit`).
// The count of units, or nothing when the converter fails.
std::optional<std::size_t> decode_gbk(std::string_view bytes, std::size_t& in, std::size_t limit,
                                      char16_t* out) {
    const GbkTables& tables = GbkTables::instance();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t written = 0;
    while (in < limit) {
        // ASCII: a short run byte by byte (between two-byte codes most runs
        // are short), a longer one by the vector routine.
        const std::size_t short_end = std::min(limit, in + kShortRun);
        while (in < short_end && data[in] < 0x80) {
            out[written++] = static_cast<char16_t>(data[in++]);
        }
        if (in == short_end) {
            const std::size_t ascii = widen_ascii(bytes.data() + in, limit - in, out + written);
            in += ascii;
            written += ascii;
        }
        // Two-byte codes, one table look-up each.
        while (in < limit && in + 1 < size && data[in] >= 0x80) {
            const char16_t unit = tables.ready() ? tables.decode_pair(data[in], data[in + 1]) : 0;
            if (unit == 0) {
                break;
            }
            out[written++] = unit;
            in += 2;
        }
        if (in >= limit || data[in] < 0x80) {
            continue;
        }
        // A code the table cannot answer: the converter decides. A lead byte
        // goes with the byte after it (a trail byte, or a byte the converter
        // reads on its own after rejecting the lead), any other byte alone;
        // either way the converter is between characters after them.
        const bool lead = data[in] >= 0x81 && data[in] <= 0xFE;
        const std::size_t end = std::min(size, in + (lead ? 2 : 1));
        UConverter* converter = converter_for(kSystemCodePage);
        if (converter == nullptr) {
            return std::nullopt;
        }
        const std::optional<std::size_t> units =
            decode_stretch(converter, bytes, in, end, out + written);
        if (!units) {
            return std::nullopt;
        }
        written += *units;
        in = end;
    }
    return written;
}

bool is_surrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// Whether `first` and `second` are the two halves of one character.
bool is_surrogate_pair(char16_t first, char16_t second) {
    return first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF;
}

// Encodes `units` (no NUL unit) from `in` on into `out`, stopping at the
// first character boundary at or past `limit` (<= units.size()), and moves
// `in` there. `out` needs room for 2 * (limit - in + 1) bytes. The count of
// bytes, or nothing when the converter fails.
std::optional<std::size_t> encode_gbk(std::u16string_view units, std::size_t& in, std::size_t limit,
                                      char* out) {
    const GbkTables& tables = GbkTables::instance();
    const std::size_t size = units.size();
    std::size_t written = 0;
    while (in < limit) {
        const std::size_t short_end = std::min(limit, in + kShortRun);
        while (in < short_end && units[in] < 0x80) {
            out[written++] = static_cast<char>(units[in++]);
        }
        if (in == short_end) {
            const std::size_t ascii = narrow_ascii(units.data() + in, limit - in, out + written);
            in += ascii;
            written += ascii;
        }
        while (in < limit && units[in] >= 0x80) {
            const std::uint16_t bytes = tables.ready() ? tables.encode_unit(units[in]) : 0;
            if (bytes == 0) {
                break;
            }
            if (bytes > 0xFF) {
                out[written++] = static_cast<char>(bytes >> 8);
            }
            out[written++] = static_cast<char>(bytes & 0xFF);
            ++in;
        }
        if (in >= limit || units[in] < 0x80) {
            continue;
        }
        // Surrogates: the converter pairs them or substitutes, one run at a
        // time, cut at `limit` only between two characters.
        std::size_t end = in + 1;
        while (end < size && is_surrogate(units[end]) &&
               (end < limit || is_surrogate_pair(units[end - 1], units[end]))) {
            ++end;
        }
        UConverter* converter = converter_for(kSystemCodePage);
        if (converter == nullptr) {
            return std::nullopt;
        }
        ucnv_resetFromUnicode(converter);
        const UChar* source = reinterpret_cast<const UChar*>(units.data() + in);
        const UChar* const source_end = reinterpret_cast<const UChar*>(units.data() + end);
        char* target = out + written;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(converter, &target, target + 2 * (end - in), &source, source_end, nullptr,
                         true, &status);
        if (U_FAILURE(status) || source != source_end) {
            return std::nullopt;
        }
        written = static_cast<std::size_t>(target - out);
        in = end;
    }
    return written;
}

// Number of whole UTF-16LE units in `bytes` before the first NUL unit.
std::size_t units_before_nul(const ByteBuffer& bytes) {
    std::size_t offset = 0;
    while (offset + 2 <= bytes.size() && (bytes[offset] != 0 || bytes[offset + 1] != 0)) {
        offset += 2;
    }
    return offset / 2;
}

bool is_gbk(int code_page) {
    return code_page == 0 || code_page == kSystemCodePage;
}

// GBK bytes (no zero byte, not empty) as UTF-16LE units and one NUL unit,
// converted in one pass; empty when nothing converts.
ByteBuffer gbk_to_utf16le(std::string_view bytes) {
    ByteBuffer result;
    result.reserve(2 * bytes.size() + 2);
    char16_t piece[kChunk + 1];
    for (std::size_t in = 0; in < bytes.size();) {
        const std::optional<std::size_t> count =
            decode_gbk(bytes, in, std::min(bytes.size(), in + kChunk), piece);
        if (!count) {
            return {};
        }
        append_little_endian(result, reinterpret_cast<const UChar*>(piece), *count);
    }
    if (result.empty()) {
        return {};
    }
    result.push_back(0);
    result.push_back(0);
    return result;
}

// UTF-16LE units of `bytes` up to the first zero byte, then one NUL unit;
// empty when nothing converts.
ByteBuffer to_utf16(std::string_view bytes, int code_page) {
    bytes = bytes.substr(0, bytes.find('\0'));
    if (bytes.empty()) {
        return {};
    }
    if (is_gbk(code_page)) {
        return gbk_to_utf16le(bytes);
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

Text utf16_to_code_page(const ByteBuffer& bytes, int code_page, bool use_code_page) {
    if (!use_code_page) {
        code_page = 0;
    }
    // Whole units up to the first NUL unit; a trailing odd byte is dropped.
    const std::size_t count = units_before_nul(bytes);
    if (count == 0) {
        return {};
    }
    if (is_gbk(code_page) && std::endian::native == std::endian::little) {
        return utf16_units_to_gbk(
            std::u16string_view(reinterpret_cast<const char16_t*>(bytes.data()), count));
    }
    UConverter* converter = converter_for(code_page);
    if (converter == nullptr) {
        return {};
    }
    Text encoded = encode(converter, bytes.data(), count);
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
    std::size_t in = 0;
    return decode_gbk(text, in, text.size(), out).value_or(0);
}

Text utf16_units_to_gbk(std::u16string_view units) {
    units = units.substr(0, units.find(u'\0'));
    Text text;
    text.reserve(2 * units.size());
    char piece[2 * (kChunk + 1)];
    for (std::size_t in = 0; in < units.size();) {
        const std::optional<std::size_t> count =
            encode_gbk(units, in, std::min(units.size(), in + kChunk), piece);
        if (!count) {
            return {};
        }
        text.append(piece, *count);
    }
    return text;
}

// The label table names only converters ICU has.
bool converter_available(std::string_view /*converter*/) {
    return true;
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
