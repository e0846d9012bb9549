// Code pages: the conversions of text/codepage.h on arbitrary bytes, odd
// lengths and arbitrary code page numbers included. Checked:
// - valid GBK (ASCII bytes and the two-byte codes, lead 81..FE, trail
//   40..7E or 80..FE) goes to UTF-16 and back unchanged;
// - whatever comes back from UTF-16 is valid GBK in this sense: another
//   round trip leaves it unchanged;
// - the UTF-16 buffers hold whole units, one NUL unit at the end (none when
//   stripped) and no other, never more units than input bytes;
// - cut_utf16_at_nul keeps exactly the units before the first NUL unit;
// - UTF-16 without surrogates and NUL goes to UTF-8 and back unchanged.
//
// Input: a selector for the code page and flags from the end; the rest is
// used as GBK-ish text, as UTF-16 units and as bytes in that code page.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text/codepage.h"

namespace notepics {
namespace {

// Checks the shape of a buffer of UTF-16 units made from `source_bytes`
// input bytes: whole units, a single NUL unit at the end when
// `terminated`, none elsewhere; with `at_most_one_per_byte` (GBK), no more
// units than input bytes.
NOTEPICS_FUZZ_ORACLE void check_units(const ByteBuffer& units, std::size_t source_bytes,
                                      bool terminated, bool at_most_one_per_byte) {
    FUZZ_CHECK(units.size() % 2 == 0);
    FUZZ_CHECK(!at_most_one_per_byte || units.size() / 2 <= source_bytes + (terminated ? 1 : 0));
    if (units.empty()) {
        return;
    }
    const std::size_t count = units.size() / 2;
    for (std::size_t k = 0; k < count; ++k) {
        const bool nul = units[2 * k] == 0 && units[2 * k + 1] == 0;
        FUZZ_CHECK(nul == (terminated && k + 1 == count));
    }
}

NOTEPICS_FUZZ_ORACLE ByteBuffer as_buffer(std::string_view bytes) {
    return ByteBuffer(bytes.begin(), bytes.end());
}

NOTEPICS_FUZZ_ORACLE void check_ansi_round_trip(std::string_view input) {
    const std::string text(input.substr(0, input.find('\0')));
    const ByteBuffer units = ansi_to_utf16(input);
    const ByteBuffer stripped = ansi_to_utf16(input, true);
    if (text.empty()) {
        FUZZ_CHECK(units.empty() && stripped.empty());
    } else {
        check_units(units, text.size(), true, true);
        FUZZ_CHECK(units.size() >= 4);
        FUZZ_CHECK(stripped == ByteBuffer(units.begin(), units.end() - 2));
    }

    // What comes back is GBK that survives another round trip.
    const Text back = utf16_to_ansi(units);
    FUZZ_CHECK(back.find('\0') == Text::npos);
    FUZZ_CHECK(utf16_to_ansi(stripped) == back);
    FUZZ_CHECK(utf16_to_ansi(ansi_to_utf16(back)) == back);

    const std::string gbk = fuzz::valid_gbk(input);
    FUZZ_CHECK(utf16_to_ansi(ansi_to_utf16(gbk)) == gbk);
    FUZZ_CHECK(utf16_to_ansi(ansi_to_utf16(gbk, true)) == gbk);
}

NOTEPICS_FUZZ_ORACLE void check_utf16_input(const ByteBuffer& bytes, int code_page,
                                            bool keep_terminator) {
    // The units before the first NUL unit, a trailing odd byte dropped.
    std::size_t whole = 0;
    while (whole + 2 <= bytes.size() && (bytes[whole] != 0 || bytes[whole + 1] != 0)) {
        whole += 2;
    }
    const ByteBuffer cut = cut_utf16_at_nul(bytes, keep_terminator);
    if (whole == 0) {
        FUZZ_CHECK(cut.empty());
    } else {
        ByteBuffer expected(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(whole));
        if (keep_terminator) {
            expected.push_back(0);
            expected.push_back(0);
        }
        FUZZ_CHECK(cut == expected);
    }

    const Text gbk = utf16_to_ansi(bytes);
    FUZZ_CHECK(gbk.find('\0') == Text::npos);
    FUZZ_CHECK(gbk.empty() == (whole == 0));
    FUZZ_CHECK(utf16_to_ansi(cut) == gbk);
    FUZZ_CHECK(utf16_to_code_page(bytes, code_page, false) == gbk);
    FUZZ_CHECK(utf16_to_ansi(ansi_to_utf16(gbk)) == gbk);

    const Text in_code_page = utf16_to_code_page(bytes, code_page, true);
    FUZZ_CHECK(in_code_page.find('\0') == Text::npos);

    // UTF-16 without surrogates goes through UTF-8 unchanged.
    bool plain = true;
    for (std::size_t k = 0; k + 1 < whole; k += 2) {
        const unsigned unit = bytes[k] | (bytes[k + 1] << 8);
        plain = plain && (unit < 0xD800 || unit > 0xDFFF);
    }
    if (plain && whole > 0) {
        const Text utf8 = utf16_to_code_page(bytes, 65001, true);
        ByteBuffer expected(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(whole));
        expected.push_back(0);
        expected.push_back(0);
        FUZZ_CHECK(code_page_to_utf16(as_buffer(utf8), 65001) == expected);
    }
}

NOTEPICS_FUZZ_ORACLE void check_code_page_input(std::string_view input, int code_page) {
    const ByteBuffer units = code_page_to_utf16(as_buffer(input), code_page);
    const std::size_t text_bytes = input.substr(0, input.find('\0')).size();
    check_units(units, text_bytes, true, code_page == 0 || code_page == 936);
    if (text_bytes == 0) {
        FUZZ_CHECK(units.empty());
    }
    if (code_page == 0 || code_page == 936) {
        FUZZ_CHECK(units == ansi_to_utf16(input));
    }
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    // Code pages a caller might name, and any number from a bounded range:
    // each number opens (and keeps) a converter of its own.
    const int code_page = data.ConsumeBool()
                              ? data.PickValueInArray({0, 936, 65001, 1200, 1201, 1252, 950, 932,
                                                       949, 54936, 20936, 437, 28591, -1})
                              : data.ConsumeIntegralInRange(-2, 70000);
    const bool keep_terminator = data.ConsumeBool();
    const std::string input = data.ConsumeRemainingBytesAsString();

    check_ansi_round_trip(input);
    check_utf16_input(ByteBuffer(input.begin(), input.end()), code_page, keep_terminator);
    check_code_page_input(input, code_page);
    return 0;
}
