#include "text/codepage.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#endif

#include <climits>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "text/ascii_runs.h"
#include "text/charset_table.h"

namespace notepics {
namespace {

using namespace std::string_view_literals;

// "2D 4E 00 00" -> {0x2D, 0x4E, 0x00, 0x00}.
ByteBuffer from_hex(std::string_view hex) {
    ByteBuffer bytes;
    std::istringstream in{std::string(hex)};
    std::string field;
    while (in >> field) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(field, nullptr, 16)));
    }
    return bytes;
}

std::string to_hex(std::string_view bytes) {
    std::string hex;
    for (const char byte : bytes) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        const auto value = static_cast<unsigned char>(byte);
        if (!hex.empty()) {
            hex += ' ';
        }
        hex += kDigits[value >> 4];
        hex += kDigits[value & 0xF];
    }
    return hex;
}

std::string to_hex(const ByteBuffer& bytes) {
    return to_hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Whether the platform's converters have `code_page` (a Windows number).
// ICU has every one the tests use; so has Windows, but wine (which runs the
// Windows tests here) lacks GB18030 (54936) and ISO-2022-JP (50220). A case
// of a missing code page is left out, and says so.
bool platform_has_code_page(int code_page) {
#if defined(_WIN32)
    return code_page <= 0 || code_page == 1200 || code_page == 1201 ||
           IsValidCodePage(static_cast<UINT>(code_page)) != 0;
#else
    (void)code_page;
    return true;
#endif
}

bool platform_has_code_page(int code_page, std::string_view what) {
    const bool has = platform_has_code_page(code_page);
    if (!has) {
        std::cout << "left out: " << what << " (the system has no code page " << code_page << ")\n";
    }
    return has;
}

TEST(CodePage, AnsiToUtf16) {
    struct Case {
        std::string_view text;
        bool strip;
        std::string_view expected;
    };
    const Case cases[] = {
        {"", false, ""},
        {"", true, ""},
        {"GET", false, "47 00 45 00 54 00 00 00"},
        {"GET", true, "47 00 45 00 54 00"},
        {"\xD6\xD0", false, "2D 4E 00 00"},         // 中
        {"a\xD6\xD0z", true, "61 00 2D 4E 7A 00"},  // a中z
        {"\x80", false, "AC 20 00 00"},             // €
        {"\xFF", false, "F5 F8 00 00"},             // the code page's own private use
        // Invalid bytes become U+FFFD; a following byte that is a character of
        // its own is kept.
        {"A\xD6", false, "41 00 FD FF 00 00"},                         // lead byte at the end
        {"\xD6 ", false, "FD FF 20 00 00 00"},                         // lead byte before a space
        {"\x81\x7F", false, "FD FF 7F 00 00 00"},                      // 7F is no trail byte
        {"\x81\x30\x81\x30", false, "FD FF 30 00 FD FF 30 00 00 00"},  // no four-byte codes
        // Conversion stops at a zero byte.
        {"A\0B"sv, false, "41 00 00 00"},
        {"\0A"sv, false, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_hex(ansi_to_utf16(c.text, c.strip)), c.expected)
            << "text " << to_hex(c.text) << ", strip " << c.strip;
    }
}

TEST(CodePage, CodePageToUtf16) {
    struct Case {
        std::string_view bytes;
        int code_page;
        std::string_view expected;
    };
    const Case cases[] = {
        {"", 936, ""},
        {"00 41", 936, ""},
        {"41 00 42", 936, "41 00 00 00"},
        {"D6 D0", 0, "2D 4E 00 00"},  // the system code page is GBK
        {"E4 B8 AD", 65001, "2D 4E 00 00"},
        {"F0 9F 98 80", 65001, "3D D8 00 DE 00 00"},  // U+1F600 as a surrogate pair
        {"C3 28", 65001, "FD FF 28 00 00 00"},        // broken UTF-8 sequence
        {"80 E9", 1252, "AC 20 E9 00 00 00"},
        {"82 A0", 932, "42 30 00 00"},
        {"81 30 81 30", 54936, "80 00 00 00"},
        // No such code page.
        {"41", 12345, ""},
        {"41", -1, ""},
        {"41", INT_MAX, ""},
        {"41", INT_MIN, ""},
    };
    for (const Case& c : cases) {
        if (!c.expected.empty() && !platform_has_code_page(c.code_page, c.bytes)) {
            continue;
        }
        EXPECT_EQ(to_hex(code_page_to_utf16(from_hex(c.bytes), c.code_page)), c.expected)
            << "bytes " << c.bytes << ", code page " << c.code_page;
    }
}

TEST(CodePage, CutUtf16AtNul) {
    struct Case {
        std::string_view bytes;
        bool keep_terminator;
        std::string_view expected;
    };
    const Case cases[] = {
        {"", false, ""},
        {"41", true, ""},
        {"41 00 42", false, "41 00"},
        {"41 00 42", true, "41 00 00 00"},
        {"41 00 42 00", false, "41 00 42 00"},
        {"41 00 42 00", true, "41 00 42 00 00 00"},
        {"41 00 00 00 42 00", false, "41 00"},
        {"41 00 00 00 42 00", true, "41 00 00 00"},
        {"00 00 41 00", false, ""},
        {"00 00 41 00", true, ""},
        {"00 41", false, "00 41"},  // U+4100
        // The zero bytes at offsets 1 and 2 belong to different units.
        {"41 00 00 42 00", false, "41 00 00 42"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_hex(cut_utf16_at_nul(from_hex(c.bytes), c.keep_terminator)), c.expected)
            << "bytes " << c.bytes << ", keep terminator " << c.keep_terminator;
    }
}

TEST(CodePage, Utf16ToAnsi) {
    struct Case {
        std::string_view units;
        std::string_view expected;
    };
    const Case cases[] = {
        {"", ""},
        {"2D 4E", "\xD6\xD0"},        // 中
        {"2D 4E 00 00", "\xD6\xD0"},  // a terminating NUL unit changes nothing
        {"41 00 00 00 42 00", "A"},
        {"00 00 41 00", ""},
        {"AC 20", "\x80"},  // €
        // Characters GBK lacks become "?".
        {"D0 05", "?"},                // U+05D0
        {"41 00 D0 05 42 00", "A?B"},  // A U+05D0 B
        {"3D D8 00 DE", "?"},          // U+1F600: one character, one "?"
        // Invisible characters too: nothing is dropped silently.
        {"0B 20", "?"},                // U+200B zero-width space
        {"41 00 AD 00 42 00", "A?B"},  // U+00AD soft hyphen
        {"0F FE", "?"},                // U+FE0F variation selector
        // So do unpaired surrogates.
        {"3D D8", "?"},
        {"3D D8 41 00", "?A"},
        {"00 DE 41 00", "?A"},
        // A trailing odd byte is dropped.
        {"41 00 42", "A"},
        {"41", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_hex(utf16_to_ansi(from_hex(c.units))), to_hex(c.expected))
            << "units " << c.units;
    }
}

TEST(CodePage, Utf16ToCodePage) {
    struct Case {
        std::string_view units;
        int code_page;
        bool use_code_page;
        std::string_view expected;
    };
    const Case cases[] = {
        {"2D 4E", 65001, true, "\xE4\xB8\xAD"},
        {"3D D8 00 DE", 65001, true, "\xF0\x9F\x98\x80"},
        {"41 00 00 00 42 00", 65001, true, "A"},
        {"2D 4E", 0, true, "\xD6\xD0"},
        {"2D 4E", 1252, true, "?"},
        {"AC 20 E9 00", 1252, true, "\x80\xE9"},
        {"2D 4E", 932, true, "\x92\x86"},
        // Without use_code_page the system code page (GBK) is used, whatever
        // the number.
        {"2D 4E", 65001, false, "\xD6\xD0"},
        {"2D 4E", 12345, false, "\xD6\xD0"},
        // No such code page.
        {"2D 4E", 12345, true, ""},
        {"2D 4E", -1, true, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_hex(utf16_to_code_page(from_hex(c.units), c.code_page, c.use_code_page)),
                  to_hex(c.expected))
            << "units " << c.units << ", code page " << c.code_page << ", use code page "
            << c.use_code_page;
    }
}

TEST(CodePage, CharsetToUtf16DecodesWholeBuffersByLabel) {
    struct Case {
        const char* name;
        std::string_view label;
        std::string_view bytes;
        std::optional<std::string_view> units;  // hex; nothing: label unknown
    };
    const Case cases[] = {
        {"utf-8", "utf-8",
         "\xE4\xB8\xAD"
         "A",
         "2D 4E 41 00"},
        {"label case and punctuation", "UTF8", "\xE4\xB8\xAD", "2D 4E"},
        {"utf-8 byte-order mark dropped", "utf-8",
         "\xEF\xBB\xBF"
         "A",
         "41 00"},
        {"big5", "big5", "\xA4\xA4", "2D 4E"},
        {"utf-16le zero bytes are not the end", "utf-16le", "A\0B\0"sv, "41 00 42 00"},
        {"stops at the first NUL character", "utf-8", "A\0B"sv, "41 00"},
        {"invalid bytes substituted", "utf-8", "\xFF", "FD FF"},
        {"empty input", "utf-8", "", ""},
        {"unknown label", "no-such-charset", "A", std::nullopt},
        {"empty label", "", "A", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<ByteBuffer> units =
            charset_to_utf16(ByteBuffer(c.bytes.begin(), c.bytes.end()), c.label);
        ASSERT_EQ(units.has_value(), c.units.has_value());
        if (units) {
            EXPECT_EQ(*units, from_hex(*c.units));
        }
    }
}

TEST(CodePage, LongTextsConvertWhole) {
    // The prefix puts a character across every even (and, with UTF-8, every
    // fourth) byte and unit offset, whatever pieces a conversion works in.
    struct Case {
        int code_page;
        std::string_view prefix;
        std::string_view character;
        std::string_view character_units;
    };
    const Case cases[] = {
        {936, "A", "\xD6\xD0", "2D 4E"},                  // 中
        {65001, "A", "\xF0\x9F\x98\x80", "3D D8 00 DE"},  // U+1F600
        {65001, "AB", "\xF0\x9F\x98\x80", "3D D8 00 DE"},
        {65001, "ABC", "\xF0\x9F\x98\x80", "3D D8 00 DE"},
    };
    constexpr int kRepeats = 30000;
    for (const Case& c : cases) {
        Text text(c.prefix);
        ByteBuffer units;
        for (const char ascii : c.prefix) {
            units.insert(units.end(), {static_cast<std::uint8_t>(ascii), 0});
        }
        const ByteBuffer character_units = from_hex(c.character_units);
        for (int i = 0; i < kRepeats; ++i) {
            text += c.character;
            units.insert(units.end(), character_units.begin(), character_units.end());
        }
        ByteBuffer terminated = units;
        terminated.insert(terminated.end(), {0, 0});
        EXPECT_TRUE(code_page_to_utf16(text_to_bytes(text), c.code_page) == terminated)
            << "code page " << c.code_page << ", prefix " << c.prefix;
        EXPECT_TRUE(utf16_to_code_page(units, c.code_page, true) == text)
            << "code page " << c.code_page << ", prefix " << c.prefix;
    }
}

TEST(CodePage, KeepsNoStateBetweenCalls) {
    // A call that ends inside a character must not complete it in the next.
    EXPECT_EQ(to_hex(ansi_to_utf16("A\xD6")), "41 00 FD FF 00 00");
    EXPECT_EQ(to_hex(ansi_to_utf16("\xD0")), "FD FF 00 00");
    EXPECT_EQ(utf16_to_code_page(from_hex("3D D8"), 65001, true), "?");
    EXPECT_EQ(utf16_to_code_page(from_hex("00 DE"), 65001, true), "?");
}

TEST(CodePage, ConvertsOnSeveralThreadsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    const Text gbk = "GET /\xD6\xD0\xCE\xC4 \x80";  // GET /中文 €
    const ByteBuffer utf8 = from_hex("E4 B8 AD E6 96 87");
    std::vector<int> failures(kThreads, 0);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int round = 0; round < kRounds; ++round) {
                    if (utf16_to_ansi(ansi_to_utf16(gbk)) != gbk) {
                        ++failures[t];
                    }
                    if (utf16_to_code_page(code_page_to_utf16(utf8, 65001), 65001, true) !=
                        "\xE4\xB8\xAD\xE6\x96\x87") {
                        ++failures[t];
                    }
                }
            });
        }
    }
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

// Every two-byte GBK code 8140..FEFE against a table generated from another
// converter (see generate_gbk_table.py).

using CodeTable = std::map<std::uint16_t, char16_t>;  // two-byte code -> UTF-16 unit

constexpr int kFirstLead = 0x81;
constexpr int kLastLead = 0xFE;
constexpr int kFirstTrail = 0x40;
constexpr int kLastTrail = 0xFE;
constexpr int kNoTrail = 0x7F;

// Reads data/gbk_two_byte_codes.txt; on a malformed file returns an empty
// table and says why in `error`.
CodeTable load_reference_table(std::string& error) {
    const std::string path = NOTEPICS_TEST_DATA_DIR "/gbk_two_byte_codes.txt";
    std::ifstream file(path);
    if (!file) {
        error = "cannot open " + path;
        return {};
    }
    CodeTable table;
    int expected_lead = kFirstLead;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string field;
        fields >> field;
        if (std::stoi(field, nullptr, 16) != expected_lead) {
            error = "line of lead byte " + field + " out of order";
            return {};
        }
        int trail = kFirstTrail;
        while (fields >> field) {
            if (field != "----") {
                const auto code = static_cast<std::uint16_t>(expected_lead << 8 | trail);
                table[code] = static_cast<char16_t>(std::stoul(field, nullptr, 16));
            }
            ++trail;
        }
        if (trail != kLastTrail + 1) {
            error = "lead byte " + to_hex(std::string(1, static_cast<char>(expected_lead))) +
                    " has a wrong number of fields";
            return {};
        }
        ++expected_lead;
    }
    if (expected_lead != kLastLead + 1) {
        error = "lead bytes missing";
        return {};
    }
    return table;
}

// Codes the reference table leaves undefined and code page 936 maps to the
// Private Use Area, numbered row by row (trail byte 7F skipped).
struct PrivateUseBlock {
    int first_lead, last_lead, first_trail, last_trail;
    char16_t first_unit;
};
constexpr PrivateUseBlock kPrivateUseBlocks[] = {
    // The three user-defined areas.
    {0xAA, 0xAF, 0xA1, 0xFE, 0xE000},
    {0xF8, 0xFE, 0xA1, 0xFE, 0xE234},
    {0xA1, 0xA7, 0x40, 0xA0, 0xE4C6},
    // The unassigned codes of the symbol rows and of rows D7 and FE, numbered
    // on in code order.
    {0xA2, 0xA2, 0xAB, 0xB0, 0xE766},
    {0xA2, 0xA2, 0xE3, 0xE4, 0xE76C},
    {0xA2, 0xA2, 0xEF, 0xF0, 0xE76E},
    {0xA2, 0xA2, 0xFD, 0xFE, 0xE770},
    {0xA4, 0xA4, 0xF4, 0xFE, 0xE772},
    {0xA5, 0xA5, 0xF7, 0xFE, 0xE77D},
    {0xA6, 0xA6, 0xB9, 0xC0, 0xE785},
    {0xA6, 0xA6, 0xD9, 0xDF, 0xE78D},
    {0xA6, 0xA6, 0xEC, 0xED, 0xE794},
    {0xA6, 0xA6, 0xF3, 0xF3, 0xE796},
    {0xA6, 0xA6, 0xF6, 0xFE, 0xE797},
    {0xA7, 0xA7, 0xC2, 0xD0, 0xE7A0},
    {0xA7, 0xA7, 0xF2, 0xFE, 0xE7AF},
    {0xA8, 0xA8, 0x96, 0xA0, 0xE7BC},
    {0xA8, 0xA8, 0xBC, 0xBC, 0xE7C7},
    {0xA8, 0xA8, 0xBF, 0xBF, 0xE7C8},
    {0xA8, 0xA8, 0xC1, 0xC4, 0xE7C9},
    {0xA8, 0xA8, 0xEA, 0xFE, 0xE7CD},
    {0xA9, 0xA9, 0x58, 0x58, 0xE7E2},
    {0xA9, 0xA9, 0x5B, 0x5B, 0xE7E3},
    {0xA9, 0xA9, 0x5D, 0x5F, 0xE7E4},
    {0xA9, 0xA9, 0x89, 0x95, 0xE7E7},
    {0xA9, 0xA9, 0x97, 0xA3, 0xE7F4},
    {0xA9, 0xA9, 0xF0, 0xFE, 0xE801},
    {0xD7, 0xD7, 0xFA, 0xFE, 0xE810},
    {0xFE, 0xFE, 0x50, 0xA0, 0xE815},
};

// The reference table plus the private use blocks: what code page 936 gives
// for every code with a trail byte other than 7F.
CodeTable load_expected_table(std::string& error) {
    CodeTable table = load_reference_table(error);
    if (table.empty()) {
        return {};
    }
    for (const PrivateUseBlock& block : kPrivateUseBlocks) {
        char16_t unit = block.first_unit;
        for (int lead = block.first_lead; lead <= block.last_lead; ++lead) {
            for (int trail = block.first_trail; trail <= block.last_trail; ++trail) {
                if (trail == kNoTrail) {
                    continue;
                }
                const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
                if (!table.emplace(code, unit++).second) {
                    error = "private use block overlaps the reference table";
                    return {};
                }
            }
        }
    }
    return table;
}

Text code_text(std::uint16_t code) {
    return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

ByteBuffer unit_bytes(char16_t unit) {
    return {static_cast<std::uint8_t>(unit & 0xFF), static_cast<std::uint8_t>(unit >> 8)};
}

TEST(CodePageGbk, EveryTwoByteCodeMatchesReferenceTable) {
    std::string error;
    const CodeTable expected = load_expected_table(error);
    ASSERT_FALSE(expected.empty()) << error;

    std::vector<std::string> mismatches;
    for (int lead = kFirstLead; lead <= kLastLead; ++lead) {
        for (int trail = kFirstTrail; trail <= kLastTrail; ++trail) {
            const auto code = static_cast<std::uint16_t>(lead << 8 | trail);
            const Text text = code_text(code);
            const std::string decoded = to_hex(ansi_to_utf16(text));
            if (trail == kNoTrail) {
                // Not a character: the lead byte is invalid, 7F stays itself.
                if (decoded != "FD FF 7F 00 00 00") {
                    mismatches.push_back(to_hex(text) + " decodes to " + decoded);
                }
                continue;
            }
            const auto found = expected.find(code);
            if (found == expected.end()) {
                mismatches.push_back(to_hex(text) + " has no expected character");
                continue;
            }
            const ByteBuffer unit = unit_bytes(found->second);
            ByteBuffer terminated = unit;
            terminated.insert(terminated.end(), {0, 0});
            if (decoded != to_hex(terminated)) {
                mismatches.push_back(to_hex(text) + " decodes to " + decoded + ", expected " +
                                     to_hex(terminated));
            }
            const Text encoded = utf16_to_ansi(unit);
            if (encoded != text) {
                mismatches.push_back(to_hex(unit) + " encodes to " + to_hex(encoded) +
                                     ", expected " + to_hex(text));
            }
        }
    }
    std::string shown;
    for (std::size_t i = 0; i < mismatches.size() && i < 20; ++i) {
        shown += "\n  " + mismatches[i];
    }
    EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " mismatches:" << shown;
}

TEST(CodePageGbk, WholeTableConvertsInOneCall) {
    std::string error;
    const CodeTable expected = load_expected_table(error);
    ASSERT_FALSE(expected.empty()) << error;

    Text text;
    ByteBuffer units;
    for (const auto& [code, unit] : expected) {
        text += code_text(code);
        const ByteBuffer bytes = unit_bytes(unit);
        units.insert(units.end(), bytes.begin(), bytes.end());
    }
    EXPECT_TRUE(ansi_to_utf16(text, true) == units);
    EXPECT_TRUE(utf16_to_ansi(units) == text);
}

ByteBuffer little_endian(std::u16string_view units) {
    ByteBuffer bytes;
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// ---------------------------------------------------------------------------
// The fast GBK paths against the converter alone, on arbitrary input. Only
// the ICU back end has fast paths of its own; on Windows the system's
// converter is the conversion itself.
#if !defined(_WIN32)

// GBK's converter set up as the conversions set theirs up: "?" for
// characters it lacks, ignorable ones included.
class PlainGbkConverter {
  public:
    PlainGbkConverter() {
        UErrorCode status = U_ZERO_ERROR;
        converter_ = ucnv_open("windows-936-2000", &status);
        ucnv_setSubstChars(converter_, "?", 1, &status);
        ucnv_setFromUCallBack(converter_, substitute, nullptr, nullptr, nullptr, &status);
    }
    ~PlainGbkConverter() { ucnv_close(converter_); }
    PlainGbkConverter(const PlainGbkConverter&) = delete;
    PlainGbkConverter& operator=(const PlainGbkConverter&) = delete;

    std::u16string decode(std::string_view bytes) const {
        std::u16string units(bytes.size() + 1, u'\0');
        UErrorCode status = U_ZERO_ERROR;
        const auto length =
            ucnv_toUChars(converter_, units.data(), static_cast<int32_t>(units.size()),
                          bytes.data(), static_cast<int32_t>(bytes.size()), &status);
        units.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
        return units;
    }

    std::string encode(std::u16string_view units) const {
        std::string bytes(2 * units.size() + 1, '\0');
        UErrorCode status = U_ZERO_ERROR;
        const auto length =
            ucnv_fromUChars(converter_, bytes.data(), static_cast<int32_t>(bytes.size()),
                            units.data(), static_cast<int32_t>(units.size()), &status);
        bytes.resize(U_SUCCESS(status) ? static_cast<std::size_t>(length) : 0);
        return bytes;
    }

  private:
    static void substitute(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t,
                           UChar32, UConverterCallbackReason reason, UErrorCode* status) {
        if (reason <= UCNV_IRREGULAR) {
            *status = U_ZERO_ERROR;
            ucnv_cbFromUWriteSub(args, 0, status);
        }
    }

    UConverter* converter_ = nullptr;
};

// Texts of ASCII runs of every length around the vector widths, mixed with
// valid codes, lead bytes before ASCII or at the end, 80 and FF, undefined
// codes (A2 A0, FE FE) and user-defined ones (AA A1).
Text arbitrary_gbk_bytes(std::mt19937& random) {
    static constexpr std::string_view kPieces[] = {
        "\xD6\xD0", "\xCE\xC4", "\x81\x40", "\xFE\x4F", "\xA1\xA1", "\xA3\xAC", "\x80",
        "\xFF",     "\x81",     "\xFE",     "\xD6",     "\x7F",     "\xA2\xA0", "\xFE\xFE",
        "\xAA\xA1", "\x81\x30", "\xD6\x7F", "\xD6\xFF", "\x81\x81", "\xA1\x40",
    };
    Text text;
    const int pieces = static_cast<int>(random() % 24);
    for (int p = 0; p < pieces; ++p) {
        if (random() % 2 == 0) {
            const std::size_t run = random() % 70;
            for (std::size_t k = 0; k < run; ++k) {
                text += static_cast<char>(0x20 + random() % 0x5F);
            }
        } else {
            text += kPieces[random() % std::size(kPieces)];
        }
    }
    return text;
}

TEST(CodePageGbk, AgreesWithTheConverterOnArbitraryBytes) {
    const PlainGbkConverter plain;
    std::mt19937 random(20261211);
    for (int round = 0; round < 20000; ++round) {
        // Pieces, or any bytes at all (but zero), mostly high ones.
        Text text = arbitrary_gbk_bytes(random);
        if (round % 2 == 1) {
            text.assign(random() % 40, '\0');
            for (char& byte : text) {
                byte = static_cast<char>(random() % 4 == 0 ? 1 + random() % 0x7F
                                                           : 0x80 + random() % 0x80);
            }
        }
        const std::u16string expected = plain.decode(text);
        SCOPED_TRACE(to_hex(text));
        ASSERT_EQ(gbk_to_utf16_units(text), expected);
        ASSERT_TRUE(ansi_to_utf16(text, true) == little_endian(expected));
        ASSERT_EQ(utf16_units_to_gbk(expected), plain.encode(expected));
    }
}

TEST(CodePageGbk, EncodesEveryUnitLikeTheConverter) {
    const PlainGbkConverter plain;
    std::u16string all;
    for (char32_t unit = 1; unit <= 0xFFFF; ++unit) {
        all += static_cast<char16_t>(unit);
    }
    // Whole, and one unit at a time (surrogates alone, so unpaired).
    EXPECT_EQ(utf16_units_to_gbk(all), plain.encode(all));
    std::vector<std::string> mismatches;
    for (const char16_t unit : all) {
        const std::u16string_view one(&unit, 1);
        if (utf16_units_to_gbk(one) != plain.encode(one)) {
            mismatches.push_back(to_hex(utf16_to_ansi(little_endian(one))));
        }
    }
    EXPECT_TRUE(mismatches.empty()) << mismatches.size() << " units differ";
    // Surrogate pairs and unpaired surrogates between other characters.
    const std::u16string mixed = u"a\xD83D\xDE00\x4E2D\xD83Dx\xDE00\xDE00\xD800\xD83D\xDE00";
    EXPECT_EQ(utf16_units_to_gbk(mixed), plain.encode(mixed));
    EXPECT_TRUE(utf16_to_ansi(little_endian(mixed)) == plain.encode(mixed));
}

TEST(CodePageGbk, LongTextsAgreeWithTheConverterAcrossEveryPieceBoundary) {
    // Conversions work through pieces of some thousands of bytes or units:
    // two-byte codes, invalid bytes and runs of surrogates (paired, and
    // unpaired high ones) must come out whole wherever a piece ends.
    const PlainGbkConverter plain;
    for (const std::string_view prefix : {"", "a", "ab", "\x81"}) {
        Text text(prefix);
        std::u16string units;
        for (int i = 0; i < 30000; ++i) {
            text += i % 7 == 0 ? "\xD6\xD0" : i % 11 == 0 ? "\x81\x30" : "\xFF\xCE\xC4";
        }
        for (const std::u16string_view run : {u"\xD83D\xDE00", u"\xD83D", u"\xDE00"}) {
            for (std::size_t n = units.size(); units.size() < n + 40001;) {
                units += run;
            }
        }
        units.insert(0, std::u16string(prefix.size(), u'x'));
        SCOPED_TRACE(testing::PrintToString(std::string(prefix)));
        EXPECT_TRUE(gbk_to_utf16_units(text) == plain.decode(text));
        EXPECT_TRUE(ansi_to_utf16(text, true) == little_endian(plain.decode(text)));
        EXPECT_TRUE(utf16_units_to_gbk(units) == plain.encode(units));
    }
}

#endif  // !defined(_WIN32)

TEST(CodePageGbk, StopsAtTheFirstZero) {
    EXPECT_EQ(gbk_to_utf16_units("a\xD6\xD0"sv
                                 "\0b"sv),
              u"a\x4E2D");
    EXPECT_EQ(gbk_to_utf16_units(""), u"");
    EXPECT_EQ(utf16_units_to_gbk(u"a\x4E2D\0b"sv), "a\xD6\xD0");
    EXPECT_EQ(utf16_units_to_gbk(u""), "");
}

// Every instruction set the processor has copies the same runs.
TEST(AsciiRuns, EveryInstructionSetCopiesTheSameRun) {
    std::mt19937 random(7);
    for (const AsciiVectors vectors :
         {AsciiVectors::portable, AsciiVectors::sse2, AsciiVectors::avx2}) {
        if (!ascii_vectors_available(vectors)) {
            continue;
        }
        SCOPED_TRACE(static_cast<int>(vectors));
        for (std::size_t length = 0; length <= 100; ++length) {
            for (std::size_t stop = 0; stop <= length; ++stop) {
                std::string bytes(length, 'a');
                std::u16string units(length, u'a');
                for (std::size_t k = 0; k < length; ++k) {
                    bytes[k] = static_cast<char>(random() % 0x80);
                    units[k] = static_cast<char16_t>(bytes[k]);
                }
                if (stop < length) {
                    bytes[stop] = static_cast<char>(0x80 + random() % 0x80);
                    units[stop] = stop % 2 == 0 ? u'\x80' : u'\xFF00';
                }
                std::u16string wide(length, u'\0');
                ASSERT_EQ(widen_ascii(bytes.data(), length, wide.data(), vectors), stop);
                EXPECT_EQ(wide.substr(0, stop), units.substr(0, stop));
                std::string narrow(length, '\0');
                ASSERT_EQ(narrow_ascii(units.data(), length, narrow.data(), vectors), stop);
                EXPECT_EQ(narrow.substr(0, stop), bytes.substr(0, stop));
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Charset labels as the web reads them.

struct LabelCase {
    std::string_view label;
    std::string_view converter;  // empty: the label names nothing
};

TEST(CharsetLabels, ResolveAsTheWebResolvesThem) {
    constexpr std::string_view kGbk = "windows-936-2000";
    const LabelCase cases[] = {
        // The GBK family, EUC-CN included, in any case and with blanks.
        {"gbk", kGbk},
        {"GBK", kGbk},
        {"gb2312", kGbk},
        {"GB2312", kGbk},
        {" \t\r\nGb2312\f ", kGbk},
        {"chinese", kGbk},
        {"csgb2312", kGbk},
        {"csiso58gb231280", kGbk},
        {"gb_2312", kGbk},
        {"GB_2312-80", kGbk},
        {"iso-ir-58", kGbk},
        {"x-gbk", kGbk},
        {"EUC-CN", kGbk},
        {"x-euc-cn", kGbk},
        {"gb18030", "gb18030"},
        // Latin-1 and ASCII are read as windows-1252.
        {"iso-8859-1", "windows-1252"},
        {"ISO_8859-1:1987", "windows-1252"},
        {"latin1", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"ascii", "windows-1252"},
        {"l1", "windows-1252"},
        {"cp819", "windows-1252"},
        {"iso-8859-9", "windows-1254"},
        {"tis-620", "windows-874"},
        {"iso-8859-11", "windows-874"},
        {"utf8", "UTF-8"},
        {"unicode-1-1-utf-8", "UTF-8"},
        {"euc-kr", "windows-949-2000"},
        {"ks_c_5601-1987", "windows-949-2000"},
        {"big5", "Big5-HKSCS"},
        {"x-x-big5", "Big5-HKSCS"},
        {"sjis", "Shift_JIS"},
        {"windows-31j", "Shift_JIS"},
        {"euc-jp", "EUC-JP"},
        {"iso-2022-jp", "ISO-2022-JP"},
        {"iso-8859-8-i", "ISO-8859-8"},
        {"logical", "ISO-8859-8"},
        {"koi8_r", "KOI8-R"},
        {"x-mac-ukrainian", "x-mac-cyrillic"},
        {"utf-16", "UTF-16LE"},
        {"unicodefffe", "UTF-16BE"},
        // Not in the table, or nothing the converter serves.
        {"", ""},
        {"   ", ""},
        {"x-no-such-charset", ""},
        {"gb 2312", ""},
        {"utf-8;", ""},
        {"\vutf-8", ""},  // a vertical tab is no blank here
        {"cp936", ""},
        {"windows-936", ""},
        {"iso-8859-16", ""},
        {"x-user-defined", ""},
        {"replacement", ""},
        {"hz-gb-2312", ""},
        {"iso-2022-kr", ""},
    };
    for (const LabelCase& c : cases) {
        if (!c.converter.empty() &&
            !platform_has_code_page(converter_code_page(c.converter), c.label)) {
            continue;
        }
        SCOPED_TRACE(testing::PrintToString(std::string(c.label)));
        EXPECT_EQ(charset_label_converter(c.label), c.converter);
        EXPECT_EQ(web_charset_to_utf16(from_hex("41 42"), c.label).has_value(),
                  !c.converter.empty());
    }
}

TEST(CharsetLabels, EveryLabelIsKnownOnceAndOpensItsConverter) {
    const std::vector<std::string_view> labels = charset_labels();
    EXPECT_GT(labels.size(), 200u);
    std::map<std::string, int> seen;
    for (const std::string_view label : labels) {
        SCOPED_TRACE(std::string(label));
        EXPECT_EQ(++seen[std::string(label)], 1);
        std::string upper(label);
        for (char& c : upper) {
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        }
        EXPECT_EQ(charset_label_converter(upper), charset_label_converter(label));
        EXPECT_TRUE(charset_to_utf16(from_hex("41 42"), charset_label_converter(label)));
    }
}

struct WebDecodeCase {
    const char* name;
    std::string_view label;
    std::string_view bytes;
    std::u16string_view units;
};

TEST(CharsetLabels, DecodeAsTheWebDecodes) {
    const WebDecodeCase cases[] = {
        // 丂 說 镕 喆 堃 玥 are in GBK but not in GB2312 proper.
        {"GB2312 read as GBK", "GB2312", "\x81\x40\xD5\x66\xE9\x46\x86\xB4\x88\xD2\xAB\x68",
         u"\x4E02\x8AAA\x9555\x5586\x5803\x73A5"},
        {"EUC-CN read as GBK", "euc-cn", "\x81\x40\xD6\xD0", u"\x4E02\x4E2D"},
        {"Latin-1 read as windows-1252", "iso-8859-1", "\x93q\x94\xE9", u"\x201Cq\x201D\xE9"},
        {"US-ASCII read as windows-1252", "US-ASCII", "\x80", u"\x20AC"},
        // 똠 exists only in the extended Korean code page.
        {"EUC-KR read as the extended code page", "euc-kr", "\x8C\x63", u"\xB620"},
    };
    for (const WebDecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<ByteBuffer> units =
            web_charset_to_utf16(ByteBuffer(c.bytes.begin(), c.bytes.end()), c.label);
        ASSERT_TRUE(units);
        EXPECT_EQ(to_hex(*units), to_hex(little_endian(c.units)));
    }
}

}  // namespace
}  // namespace notepics
