#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/charset_table.h"
#include "text/codepage.h"
#include "text/gbk_converter.h"

namespace notepics {
namespace {

struct Encoding {
    std::string_view converter;  // the converter's own name
    int code_page;               // its Windows code page number; 0: Windows has none
    std::string_view labels;     // lower case, as the web writes them, between spaces
};

// The labels of the web's encoding table, grouped by the encoding they name,
// for every encoding the converter serves. Left out: ISO-8859-16 (no
// converter), x-user-defined, and the labels of the "replacement" encoding
// (ISO-2022-KR, ISO-2022-CN, HZ-GB-2312), which the web never decodes.
// The GBK labels, and EUC-CN with x-euc-cn that Chinese pages also use,
// read as GBK (code page 936), a superset of GB2312.
const Encoding kEncodings[] = {
    {"UTF-8", 65001, "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {"IBM866", 866, "866 cp866 csibm866 ibm866"},
    {"ISO-8859-2", 28592,
     "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {"ISO-8859-3", 28593,
     "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {"ISO-8859-4", 28594,
     "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {"ISO-8859-5", 28595,
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 "
     "iso_8859-5:1988"},
    {"ISO-8859-6", 28596,
     "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
     "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {"ISO-8859-7", 28597,
     "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
     "iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
    // ISO-8859-8 and ISO-8859-8-I differ only in display direction.
    {"ISO-8859-8", 28598,
     "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
     "iso_8859-8 iso_8859-8:1988 visual csiso88598i iso-8859-8-i logical"},
    {"ISO-8859-10", 0, "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {"ISO-8859-13", 28603, "iso-8859-13 iso8859-13 iso885913"},
    {"ISO-8859-14", 0, "iso-8859-14 iso8859-14 iso885914"},
    {"ISO-8859-15", 28605, "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {"KOI8-R", 20866, "cskoi8r koi koi8 koi8-r koi8_r"},
    {"KOI8-U", 21866, "koi8-ru koi8-u"},
    {"macintosh", 10000, "csmacintosh mac macintosh x-mac-roman"},
    {"windows-874", 874, "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {"windows-1250", 1250, "cp1250 windows-1250 x-cp1250"},
    {"windows-1251", 1251, "cp1251 windows-1251 x-cp1251"},
    {"windows-1252", 1252,
     "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
     "iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {"windows-1253", 1253, "cp1253 windows-1253 x-cp1253"},
    {"windows-1254", 1254,
     "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 "
     "latin5 windows-1254 x-cp1254"},
    {"windows-1255", 1255, "cp1255 windows-1255 x-cp1255"},
    {"windows-1256", 1256, "cp1256 windows-1256 x-cp1256"},
    {"windows-1257", 1257, "cp1257 windows-1257 x-cp1257"},
    {"windows-1258", 1258, "cp1258 windows-1258 x-cp1258"},
    {"x-mac-cyrillic", 10007, "x-mac-cyrillic x-mac-ukrainian"},
    {kGbkConverter, 936,
     "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk euc-cn "
     "x-euc-cn"},
    {"gb18030", 54936, "gb18030"},
    {"Big5-HKSCS", 950, "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {"EUC-JP", 20932, "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {"ISO-2022-JP", 50220, "csiso2022jp iso-2022-jp"},
    {"Shift_JIS", 932, "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    // The web's EUC-KR is the extended Korean code page.
    {"windows-949-2000", 949,
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 "
     "ksc_5601 windows-949"},
    {"UTF-16BE", 1201, "unicodefffe utf-16be"},
    {"UTF-16LE", 1200, "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
};

bool is_ascii_whitespace(char c) {
    return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

std::vector<std::string_view> labels_of(const Encoding& encoding) {
    std::vector<std::string_view> labels;
    std::string_view rest = encoding.labels;
    while (!rest.empty()) {
        const std::size_t space = std::min(rest.find(' '), rest.size());
        labels.push_back(rest.substr(0, space));
        rest.remove_prefix(std::min(space + 1, rest.size()));
    }
    return labels;
}

std::string lower_ascii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
    }
    return lower;
}

}  // namespace

std::string_view charset_label_converter(std::string_view label) {
    while (!label.empty() && is_ascii_whitespace(label.front())) {
        label.remove_prefix(1);
    }
    while (!label.empty() && is_ascii_whitespace(label.back())) {
        label.remove_suffix(1);
    }
    const std::string wanted = lower_ascii(label);
    for (const Encoding& encoding : kEncodings) {
        for (const std::string_view known : labels_of(encoding)) {
            if (wanted == known) {
                return converter_available(encoding.converter) ? encoding.converter
                                                               : std::string_view();
            }
        }
    }
    return {};
}

int converter_code_page(std::string_view converter) {
    for (const Encoding& encoding : kEncodings) {
        if (encoding.converter == converter) {
            return encoding.code_page;
        }
    }
    return 0;
}

std::vector<std::string_view> charset_labels() {
    std::vector<std::string_view> labels;
    for (const Encoding& encoding : kEncodings) {
        if (!converter_available(encoding.converter)) {
            continue;
        }
        const std::vector<std::string_view> own = labels_of(encoding);
        labels.insert(labels.end(), own.begin(), own.end());
    }
    return labels;
}

std::optional<ByteBuffer> web_charset_to_utf16(const ByteBuffer& bytes, std::string_view label) {
    const std::string_view converter = charset_label_converter(label);
    if (converter.empty()) {
        return std::nullopt;
    }
    if (converter == kGbkConverter) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return ansi_to_utf16(text, true);
    }
    return charset_to_utf16(bytes, converter);
}

}  // namespace notepics
