// Header text utilities: normalize_header_names, header_value and
// capitalize_first on arbitrary blocks and names. Checked:
// - the normalised block holds, in order, exactly the input lines that have
//   a ":", each of the same length as before; a byte changes only where it
//   is an ASCII letter a-z at the start of the name or right after a "-" of
//   the name, and then becomes its capital; no "\r\n" ends the block;
// - header_value gives what the stated algorithm gives: the text after the
//   last name + ": " in the first line that begins with the name, and it is
//   a suffix of that line.
//
// Input: the name, then the block.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "web/headers.h"

namespace notepics {
namespace {

constexpr std::string_view kLineBreak = "\r\n";

NOTEPICS_FUZZ_ORACLE char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

NOTEPICS_FUZZ_ORACLE void check_normalize(std::string_view block) {
    const Text out = normalize_header_names(block);
    FUZZ_CHECK(out.size() <= block.size());

    std::vector<std::string> header_lines;
    for (const std::string& line : reference::split(block, kLineBreak)) {
        if (reference::find(line, ":", 1, false) > 0) {
            header_lines.push_back(line);
        }
    }
    // The lines joined by "\r\n", none after the last.
    std::string joined;
    for (std::size_t k = 0; k < header_lines.size(); ++k) {
        joined += k == 0 ? "" : kLineBreak;
        joined += header_lines[k];
    }
    FUZZ_CHECK(out.size() == joined.size());
    const std::vector<std::string> out_lines = reference::split(out, kLineBreak);
    FUZZ_CHECK(out_lines.size() == header_lines.size());

    for (std::size_t k = 0; k < header_lines.size(); ++k) {
        const std::string& before = header_lines[k];
        const std::string& after = out_lines[k];
        FUZZ_CHECK(before.size() == after.size());
        // The bytes that may be capitalised: the first one and each one right
        // after a "-" the character walk lands on, inside the name.
        const std::size_t name_end =
            static_cast<std::size_t>(reference::find(before, ":", 1, false)) - 1;
        std::vector<bool> capital(before.size(), false);
        if (name_end > 0) {
            capital[0] = true;
        }
        for (std::size_t i = 0; i < name_end; i += reference::char_step(before, i)) {
            if (before[i] == '-' && i + 1 < name_end) {
                capital[i + 1] = true;
            }
        }
        for (std::size_t i = 0; i < before.size(); ++i) {
            FUZZ_CHECK(after[i] == (capital[i] ? upper(before[i]) : before[i]));
        }
    }
}

NOTEPICS_FUZZ_ORACLE void check_header_value(std::string_view block, std::string_view name) {
    const Text value = header_value(block, name);
    std::string expected;
    for (const std::string& line : reference::split(block, kLineBreak)) {
        if (std::string_view(line).substr(0, name.size()) != name) {
            continue;
        }
        const std::string marker = std::string(name) + ": ";
        const int hit =
            reference::find_last(line, marker, static_cast<int>(line.size()) + 1, false);
        if (hit > 0) {
            expected = line.substr(static_cast<std::size_t>(hit - 1) + marker.size());
            FUZZ_CHECK(value.size() <= line.size() &&
                       line.compare(line.size() - value.size(), value.size(), value) == 0);
        }
        break;
    }
    FUZZ_CHECK(value == expected);
}

NOTEPICS_FUZZ_ORACLE void check_capitalize(std::string_view word) {
    const Text capitalized = capitalize_first(word);
    FUZZ_CHECK(capitalized.size() == word.size());
    if (!word.empty()) {
        FUZZ_CHECK(capitalized[0] == upper(word[0]));
        FUZZ_CHECK(capitalized.substr(1) == word.substr(1));
    }
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    const std::string name = data.ConsumeRandomLengthString(32);
    const std::string block = data.ConsumeRemainingBytesAsString();

    check_normalize(block);
    check_header_value(block, name);
    check_header_value(normalize_header_names(block), name);
    check_capitalize(name);
    check_capitalize(block);
    return 0;
}
