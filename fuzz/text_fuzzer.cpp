// Text and byte primitives: every routine of text/text.h on arbitrary bytes
// and arbitrary int arguments, checked against the plain reference walk and
// against the invariants of its contract:
// - a text_find / text_find_last hit holds the needle and lies where the
//   character walk lands, and no earlier (later) hit was passed over;
// - text_split pieces joined with the separator give back the text, less a
//   trailing separator;
// - text_replace equals the reference replacement;
// - head, tail and slice give the stated piece of the text.
//
// Input: needle, replacement, then the text; ints and flags from the end.
// A text drawn as "repeated" is the given bytes repeated to up to 16 KiB, so
// that long periodic texts (the costly case of a character-aligned search)
// are reached too; on long ones only the cheap invariants are checked.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text/text.h"

namespace notepics {
namespace {

using fuzz::consume_int;

NOTEPICS_FUZZ_ORACLE void check_find(std::string_view text, std::string_view needle, int start,
                                     bool ignore_case, bool with_reference) {
    const int hit = text_find(text, needle, start, ignore_case);
    FUZZ_CHECK(hit == -1 || hit >= 1);
    if (hit > 0 && !needle.empty()) {
        const std::size_t at = static_cast<std::size_t>(hit) - 1;
        const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
        FUZZ_CHECK(at >= from);
        FUZZ_CHECK(reference::matches_at(text, at, needle, ignore_case));
        FUZZ_CHECK(reference::walk_lands_on(text, from, at));
    }
    if (with_reference) {
        FUZZ_CHECK(hit == reference::find(text, needle, start, ignore_case));
    }
}

NOTEPICS_FUZZ_ORACLE void check_find_last(std::string_view text, std::string_view needle, int start,
                                          bool ignore_case, bool with_reference) {
    const int hit = text_find_last(text, needle, start, ignore_case);
    FUZZ_CHECK(hit == -1 || hit >= 1);
    if (hit > 0 && !needle.empty()) {
        const std::size_t at = static_cast<std::size_t>(hit) - 1;
        FUZZ_CHECK(static_cast<long long>(at + needle.size()) <= static_cast<long long>(start) - 1);
        FUZZ_CHECK(reference::matches_at(text, at, needle, ignore_case));
        FUZZ_CHECK(reference::walk_lands_on(text, 0, at));
    }
    if (with_reference) {
        FUZZ_CHECK(hit == reference::find_last(text, needle, start, ignore_case));
    }
}

NOTEPICS_FUZZ_ORACLE void check_split(std::string_view text, std::string_view separator,
                                      bool with_reference) {
    const TextArray pieces = text_split(text, separator);
    // Joined with the separator, the pieces give back the text less a
    // trailing separator.
    Text joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            joined += separator;
        }
        joined += pieces[i];
    }
    if (joined != text) {
        FUZZ_CHECK(!separator.empty() && joined + Text(separator) == text);
    }
    FUZZ_CHECK(text.empty() == pieces.empty());
    FUZZ_CHECK(array_count(pieces) == static_cast<int>(pieces.size()));
    if (with_reference) {
        FUZZ_CHECK(pieces == reference::split(text, separator));
    }
}

NOTEPICS_FUZZ_ORACLE void check_pieces(std::string_view text, int n, int start) {
    const long long length = static_cast<long long>(text.size());
    const long long take = n <= 0 ? 0 : std::min<long long>(n, length);

    const Text head = text_head(text, n);
    FUZZ_CHECK(head == text.substr(0, static_cast<std::size_t>(take)));
    const Text tail = text_tail(text, n);
    FUZZ_CHECK(tail == text.substr(static_cast<std::size_t>(length - take)));

    const Text slice = text_slice(text, start, n);
    if (start < 1 || start > length || n <= 0) {
        FUZZ_CHECK(slice.empty());
    } else {
        const std::size_t from = static_cast<std::size_t>(start) - 1;
        FUZZ_CHECK(slice == text.substr(from, static_cast<std::size_t>(n)));
    }

    const ByteBuffer bytes = text_to_bytes(text);
    FUZZ_CHECK(bytes.size() == text.size());
    FUZZ_CHECK(bytes_head(bytes, n) == text_to_bytes(head));
    const ByteBuffer bytes_piece = bytes_slice(bytes, start, n);
    const long long from = start < 1 ? 0 : static_cast<long long>(start) - 1;
    const long long count = from >= length ? 0 : std::min<long long>(n < 0 ? 0 : n, length - from);
    FUZZ_CHECK(static_cast<long long>(bytes_piece.size()) == count);
    FUZZ_CHECK(std::equal(bytes_piece.begin(), bytes_piece.end(),
                          bytes.begin() + static_cast<std::ptrdiff_t>(count == 0 ? 0 : from)));
    if (n >= 0 && n < INT32_MAX) {
        FUZZ_CHECK(bytes_equal(
            bytes, bytes_concat({bytes_head(bytes, n), bytes_slice(bytes, n + 1, INT32_MAX)})));
    }
    const Text text_form = bytes_to_text(bytes);
    FUZZ_CHECK(text_form == text.substr(0, text.find('\0')));
}

NOTEPICS_FUZZ_ORACLE void check_case_and_trim(std::string_view text, std::string_view other) {
    const Text upper = text_upper(text);
    FUZZ_CHECK(upper.size() == text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        FUZZ_CHECK(upper[i] == (c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c));
    }
    FUZZ_CHECK(text_trim(text) == reference::trim(text));

    for (const bool case_sensitive : {true, false}) {
        const int order = text_compare(text, other, case_sensitive);
        FUZZ_CHECK(order == -text_compare(other, text, case_sensitive));
        std::string a(text);
        std::string b(other);
        if (!case_sensitive) {
            for (char& c : a) {
                c = static_cast<char>(reference::fold(c));
            }
            for (char& c : b) {
                c = static_cast<char>(reference::fold(c));
            }
        }
        const int expected = a.compare(b);  // char_traits<char> compares as unsigned
        FUZZ_CHECK((order < 0) == (expected < 0) && (order == 0) == (expected == 0));
    }
    FUZZ_CHECK(text_compare(text, text_upper(text), false) == 0);
    FUZZ_CHECK(text_concat({text, other}) == Text(text) + Text(other));
}

NOTEPICS_FUZZ_ORACLE void check_numbers(long long value, int n) {
    FUZZ_CHECK(std::stoll(int_to_text(value)) == value);
    const ByteBuffer zeros = zero_bytes(n);
    FUZZ_CHECK(static_cast<int>(zeros.size()) == std::max(n, 0));
    FUZZ_CHECK(std::all_of(zeros.begin(), zeros.end(), [](std::uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    const std::string needle = data.ConsumeRandomLengthString(size);
    const std::string replacement = data.ConsumeRandomLengthString(64);
    const bool repeated = data.ConsumeIntegralInRange(0, 15) == 0;
    const bool ignore_case = data.ConsumeBool();
    const int start = consume_int(data, 64);
    const int n = consume_int(data, 64);
    const int count = data.ConsumeBool() ? -1 : consume_int(data, 8);
    const std::size_t repeat_to = data.ConsumeIntegralInRange<std::size_t>(1, 16 * 1024);
    const long long number = data.ConsumeIntegral<long long>();
    const int zero_count = data.ConsumeIntegralInRange(-4096, 4096);
    const int index_draw = data.ConsumeIntegral<int>();
    std::string text = data.ConsumeRemainingBytesAsString();
    if (repeated && !text.empty()) {
        while (text.size() < repeat_to) {
            text += text.substr(0, repeat_to - text.size());
        }
    }
    // The reference walk costs text length times needle length.
    const bool with_reference = text.size() * (needle.size() + 1) <= 1 << 20;
    const int length = text_len(text);
    const int start_in_text = length == 0 ? start : start % (length + 2);

    check_find(text, needle, start, ignore_case, with_reference);
    check_find(text, needle, start_in_text, !ignore_case, with_reference);
    check_find_last(text, needle, start, ignore_case, with_reference);
    check_find_last(text, needle, INT32_MAX, !ignore_case, with_reference);
    check_split(text, needle, with_reference);

    const Text replaced =
        text_replace(text, needle, replacement, start_in_text, count, !ignore_case);
    if (with_reference && text.size() * (replacement.size() + 1) <= 1 << 22) {
        FUZZ_CHECK(replaced == reference::replace(text, needle, replacement, start_in_text, count,
                                                  !ignore_case));
    }
    if (count == 0 || needle.empty()) {
        FUZZ_CHECK(replaced == text);
    }

    check_pieces(text, n, start);
    check_case_and_trim(text, needle);
    check_numbers(number, zero_count);

    TextArray array = text_split(text, needle);
    const int i = index_draw % (array_count(array) + 3);
    const Text element = array_at(array, i);
    FUZZ_CHECK(i >= 1 && i <= array_count(array) ? element == array[i - 1] : element.empty());
    array_append(array, needle);
    FUZZ_CHECK(array.back() == needle);
    return 0;
}
