// Cookie merging: merge_cookies and its list routines on arbitrary cookie
// texts. Checked:
// - merge_cookies gives what the stated algorithm gives, writes that result
//   into its first argument and the tidied response cookies into its second;
// - the merged text holds no pair ending in "=deleted" and no pair twice,
//   and every pair of it comes from one of the two inputs;
// - join_unique, split_chars, cookie_name, has_cookie_name and
//   index_of_text agree with plain versions of their contracts.
//
// Input: old cookies, new cookies, a separator, then a text for the list
// routines.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "web/cookies.h"

namespace notepics {
namespace {

using Pairs = std::vector<std::string>;

constexpr std::string_view kSeparator = "; ";
constexpr std::string_view kDeleted = "=deleted";

NOTEPICS_FUZZ_ORACLE bool ends_with(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

NOTEPICS_FUZZ_ORACLE std::string reference_cookie_name(std::string_view pair) {
    const int equals = reference::find(pair, "=", 1, false);
    return reference::trim(equals < 1 ? pair : pair.substr(0, equals - 1));
}

NOTEPICS_FUZZ_ORACLE bool reference_has_name(const Pairs& pairs, std::string_view name) {
    return std::any_of(pairs.begin(), pairs.end(), [&](const std::string& pair) {
        return reference_cookie_name(pair) == name;
    });
}

NOTEPICS_FUZZ_ORACLE Pairs reference_split_chars(std::string_view text) {
    Pairs units;
    std::size_t d = 0;
    while (d < text.size()) {
        std::size_t width = 1;
        if (d + 1 < text.size() && (static_cast<unsigned char>(text[d]) >= 0x81 ||
                                    (text[d] == '\r' && text[d + 1] == '\n'))) {
            width = 2;
        }
        units.emplace_back(text.substr(d, width));
        d += width;
    }
    return units;
}

NOTEPICS_FUZZ_ORACLE int reference_index_of(const Pairs& list, std::string_view text) {
    const auto found = std::find(list.begin(), list.end(), text);
    return found == list.end() ? -1 : static_cast<int>(found - list.begin()) + 1;
}

NOTEPICS_FUZZ_ORACLE std::string reference_join_unique(std::string_view text,
                                                       std::string_view separator,
                                                       bool split_on_separator) {
    const Pairs pieces =
        split_on_separator ? reference::split(text, separator) : reference_split_chars(text);
    Pairs seen;
    std::string out;
    for (const std::string& piece : pieces) {
        if (reference_index_of(seen, piece) == -1) {
            seen.push_back(piece);
            out += piece;
            out += separator;
        }
    }
    out.resize(out.size() - std::min(out.size(), separator.size()));
    return out;
}

NOTEPICS_FUZZ_ORACLE std::string tidy(std::string_view cookies) {
    std::string out = reference::trim(cookies);
    if (!out.empty() && out.back() == ';') {
        out += ' ';
    }
    return out;
}

NOTEPICS_FUZZ_ORACLE std::string reference_merge(std::string_view old_cookies,
                                                 std::string_view new_cookies) {
    const std::string old_tidy = tidy(old_cookies);
    const std::string new_tidy = tidy(new_cookies);
    Pairs merged = reference::split(new_tidy, kSeparator);
    for (const std::string& pair : reference::split(old_tidy, kSeparator)) {
        if (!reference_has_name(merged, reference_cookie_name(pair))) {
            merged.push_back(pair);
        }
    }
    std::string joined;
    for (const std::string& pair : merged) {
        if (!ends_with(pair, kDeleted)) {
            joined += pair;
            joined += kSeparator;
        }
    }
    joined.resize(joined.size() - std::min(joined.size(), kSeparator.size()));
    return reference_join_unique(joined, kSeparator, true);
}

NOTEPICS_FUZZ_ORACLE void check_merge(const std::string& old_input, const std::string& new_input) {
    Text old_cookies = old_input;
    Text new_cookies = new_input;
    const Text result = merge_cookies(old_cookies, new_cookies);
    FUZZ_CHECK(old_cookies == result);
    FUZZ_CHECK(new_cookies == tidy(new_input));
    FUZZ_CHECK(result == reference_merge(old_input, new_input));

    const Pairs pairs = reference::split(result, kSeparator);
    const Pairs from_new = reference::split(tidy(new_input), kSeparator);
    const Pairs from_old = reference::split(tidy(old_input), kSeparator);
    Pairs seen;
    for (const std::string& pair : pairs) {
        FUZZ_CHECK(!ends_with(pair, kDeleted));
        FUZZ_CHECK(reference_index_of(seen, pair) == -1);
        seen.push_back(pair);
        // A pair that ends in a lone lead byte swallows the "; " after it,
        // so a piece of the result may span several input pairs; each piece
        // still begins with one.
        const bool known = std::any_of(from_new.begin(), from_new.end(),
                                       [&](const std::string& p) {
                                           return std::string_view(pair).substr(0, p.size()) == p;
                                       }) ||
                           std::any_of(from_old.begin(), from_old.end(), [&](const std::string& p) {
                               return std::string_view(pair).substr(0, p.size()) == p;
                           });
        FUZZ_CHECK(known);
    }
}

NOTEPICS_FUZZ_ORACLE void check_lists(std::string_view text, std::string_view separator,
                                      std::string_view name) {
    FUZZ_CHECK(join_unique(text, separator, true) == reference_join_unique(text, separator, true));
    FUZZ_CHECK(join_unique(text, separator, false) ==
               reference_join_unique(text, separator, false));

    const TextArray units = split_chars(text);
    FUZZ_CHECK(units == reference_split_chars(text));
    std::string joined;
    for (const Text& unit : units) {
        FUZZ_CHECK(!unit.empty() && unit.size() <= 2);
        joined += unit;
    }
    FUZZ_CHECK(joined == text);

    const TextArray pairs = text_split(text, kSeparator);
    FUZZ_CHECK(cookie_name(text) == reference_cookie_name(text));
    FUZZ_CHECK(has_cookie_name(pairs, name) == reference_has_name(pairs, name));
    FUZZ_CHECK(index_of_text(pairs, name) == reference_index_of(pairs, name));
    FUZZ_CHECK(index_of_text(units, name) == reference_index_of(units, name));
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    const std::string old_cookies = data.ConsumeRandomLengthString(size);
    const std::string new_cookies = data.ConsumeRandomLengthString(size);
    const std::string separator = data.ConsumeRandomLengthString(8);
    const std::string text = data.ConsumeRemainingBytesAsString();

    check_merge(old_cookies, new_cookies);
    check_merge(new_cookies, old_cookies);
    check_lists(text, separator, new_cookies);
    check_lists(old_cookies, kSeparator, separator);
    return 0;
}
