#include "web/cookies.h"

#include <string>
#include <unordered_set>

namespace notepics {
namespace {

constexpr std::string_view kPairSeparator = "; ";
constexpr std::string_view kDeletedTail = "=deleted";

// Trimmed, with a final ";" turned into "; " so that splitting drops it.
Text tidy_cookie_text(std::string_view cookies) {
    Text tidy = text_trim(cookies);
    if (!tidy.empty() && tidy.back() == ';') {
        tidy += ' ';
    }
    return tidy;
}

Text drop_tail(const Text& text, std::string_view tail) {
    return text_head(text, text_len(text) - text_len(tail));
}

}  // namespace

Text merge_cookies(Text& old_cookies, Text& new_cookies) {
    old_cookies = tidy_cookie_text(old_cookies);
    new_cookies = tidy_cookie_text(new_cookies);

    // The response's pairs first, then the caller's pairs of names not seen
    // yet. The set mirrors the names of `merged` for constant-time lookups.
    TextArray merged = text_split(new_cookies, kPairSeparator);
    std::unordered_set<std::string> names;
    for (const Text& pair : merged) {
        names.insert(cookie_name(pair));
    }
    for (const Text& pair : text_split(old_cookies, kPairSeparator)) {
        if (names.insert(cookie_name(pair)).second) {
            merged.push_back(pair);
        }
    }

    Text joined;
    for (const Text& pair : merged) {
        if (text_tail(pair, text_len(kDeletedTail)) != kDeletedTail) {
            joined += pair;
            joined += kPairSeparator;
        }
    }
    old_cookies = join_unique(drop_tail(joined, kPairSeparator), kPairSeparator, true);
    return old_cookies;
}

Text cookie_name(std::string_view pair) {
    const int equals = text_find(pair, "=");
    if (equals < 1) {
        return text_trim(pair);
    }
    return text_trim(text_head(pair, equals - 1));
}

bool has_cookie_name(const TextArray& pairs, std::string_view name) {
    for (const Text& pair : pairs) {
        if (cookie_name(pair) == name) {
            return true;
        }
    }
    return false;
}

Text join_unique(std::string_view text, std::string_view separator, bool split_on_separator) {
    const TextArray pieces = split_on_separator ? text_split(text, separator) : split_chars(text);
    std::unordered_set<std::string_view> seen;
    Text out;
    for (const Text& piece : pieces) {
        if (seen.insert(piece).second) {
            out += piece;
            out += separator;
        }
    }
    return drop_tail(out, separator);
}

TextArray split_chars(std::string_view text) {
    TextArray units;
    std::size_t d = 0;
    while (d < text.size()) {
        std::size_t width = 1;
        if (d + 1 < text.size()) {
            const auto byte = static_cast<unsigned char>(text[d]);
            if (byte >= 0x81 || (byte == '\r' && text[d + 1] == '\n')) {
                width = 2;
            }
        }
        units.emplace_back(text.substr(d, width));
        d += width;
    }
    return units;
}

int index_of_text(const TextArray& list, std::string_view text) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == text) {
            return static_cast<int>(i) + 1;
        }
    }
    return -1;
}

}  // namespace notepics
