// Shared pieces of the fuzz targets: the invariant check, the drawing of int
// arguments, and plain reference versions of the character-aligned text
// search that the targets compare the library against.
//
// The references are written for clarity, not speed: they walk the text one
// character at a time exactly as the contracts in text/text.h describe, and
// try the needle at every position the walk lands on.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Aborts, so that libFuzzer reports a crash, when an invariant fails.
#define FUZZ_CHECK(condition)           \
    ((condition) ? static_cast<void>(0) \
                 : ::notepics::fuzz::broken_invariant(#condition, __FILE__, __LINE__))

// Marks checking code: the coverage that guides the fuzzer should follow
// the branches of the code under test, not those of its checks.
#define NOTEPICS_FUZZ_ORACLE __attribute__((no_sanitize("coverage")))

namespace notepics::fuzz {

[[noreturn]] inline void broken_invariant(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken invariant: %s\n", file, line, condition);
    std::abort();
}

// An int argument: mostly values around the edges of a text of `length`
// bytes, sometimes the extremes, sometimes any int at all.
inline int consume_int(FuzzedDataProvider& data, int length) {
    switch (data.ConsumeIntegralInRange(0, 3)) {
        case 0:
            return data.ConsumeIntegralInRange(-3, 3);
        case 1:
            return data.ConsumeIntegralInRange(-length - 3, length + 3);
        case 2:
            return data.PickValueInArray({INT_MIN, INT_MIN + 1, -2, -1, 0, 1, 2, INT_MAX - 1,
                                          INT_MAX, length - 1, length, length + 1});
        default:
            return data.ConsumeIntegral<int>();
    }
}

NOTEPICS_FUZZ_ORACLE inline unsigned char fold(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 32) : byte;
}

// Bytes of the character that starts at `i`: a byte of 0x80 or above takes
// the next byte with it.
NOTEPICS_FUZZ_ORACLE inline std::size_t char_step(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
}

NOTEPICS_FUZZ_ORACLE inline bool matches_at(std::string_view text, std::size_t i,
                                            std::string_view needle, bool ignore_case) {
    if (i > text.size() || text.size() - i < needle.size()) {
        return false;
    }
    for (std::size_t k = 0; k < needle.size(); ++k) {
        const bool same =
            ignore_case ? fold(text[i + k]) == fold(needle[k]) : text[i + k] == needle[k];
        if (!same) {
            return false;
        }
    }
    return true;
}

// Whether a character walk that begins at byte `origin` (0-based) lands on
// byte `i`.
NOTEPICS_FUZZ_ORACLE inline bool walk_lands_on(std::string_view text, std::size_t origin,
                                               std::size_t i) {
    std::size_t at = origin;
    while (at < i) {
        at += char_step(text, at);
    }
    return at == i;
}

// 1-based position of the first occurrence at `start` or later, or -1.
NOTEPICS_FUZZ_ORACLE inline int reference_find(std::string_view text, std::string_view needle,
                                               int start, bool ignore_case) {
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size()) {
        return -1;
    }
    if (needle.empty()) {
        return 1;
    }
    for (std::size_t i = from; i < text.size(); i += char_step(text, i)) {
        if (matches_at(text, i, needle, ignore_case)) {
            return static_cast<int>(i) + 1;
        }
    }
    return -1;
}

// 1-based position of the last occurrence lying wholly in bytes 1 .. start - 1.
NOTEPICS_FUZZ_ORACLE inline int reference_find_last(std::string_view text, std::string_view needle,
                                                    int start, bool ignore_case) {
    if (start <= 1) {
        return -1;
    }
    const std::string_view stretch =
        text.substr(0, std::min(text.size(), static_cast<std::size_t>(start) - 1));
    if (stretch.empty()) {
        return -1;
    }
    if (needle.empty()) {
        return 1;
    }
    int last = -1;
    for (std::size_t i = 0; i < stretch.size(); i += char_step(stretch, i)) {
        if (matches_at(stretch, i, needle, ignore_case)) {
            last = static_cast<int>(i) + 1;
        }
    }
    return last;
}

NOTEPICS_FUZZ_ORACLE inline std::string reference_replace(std::string_view text,
                                                          std::string_view old_text,
                                                          std::string_view new_text, int start,
                                                          int count, bool case_sensitive) {
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (text.empty() || old_text.empty() || from >= text.size() || count == 0) {
        return std::string(text);
    }
    std::string out(text.substr(0, from));
    long long left = count < 0 ? -1 : count;
    std::size_t i = from;
    while (i < text.size()) {
        if (left != 0 && matches_at(text, i, old_text, !case_sensitive)) {
            out += new_text;
            i += old_text.size();
            if (left > 0) {
                --left;
            }
        } else {
            const std::size_t step = std::min(char_step(text, i), text.size() - i);
            out += text.substr(i, step);
            i += step;
        }
    }
    return out;
}

NOTEPICS_FUZZ_ORACLE inline std::vector<std::string> reference_split(std::string_view text,
                                                                     std::string_view separator) {
    std::vector<std::string> pieces;
    if (text.empty()) {
        return pieces;
    }
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    std::size_t piece_start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (matches_at(text, i, separator, false)) {
            pieces.emplace_back(text.substr(piece_start, i - piece_start));
            i += separator.size();
            piece_start = i;
        } else {
            i += char_step(text, i);
        }
    }
    if (piece_start < text.size()) {
        pieces.emplace_back(text.substr(piece_start));
    }
    return pieces;
}

// Drops the characters " " and A1 A1 at both ends, walking whole characters.
NOTEPICS_FUZZ_ORACLE inline std::string reference_trim(std::string_view text) {
    std::size_t begin = 0;  // after the leading spaces
    std::size_t end = 0;    // after the last character that is no space
    bool leading = true;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t step = std::min(char_step(text, i), text.size() - i);
        const std::string_view character = text.substr(i, step);
        const bool space = character == " " || character == "\xA1\xA1";
        i += step;
        if (space && leading) {
            begin = i;
        } else if (!space) {
            leading = false;
            end = i;
        }
    }
    return end <= begin ? std::string() : std::string(text.substr(begin, end - begin));
}

// Valid GBK made of the input: bytes below 0x80 (zero left out) stay, a
// byte of 0x80 or above picks a lead byte and the next byte a trail byte.
NOTEPICS_FUZZ_ORACLE inline std::string valid_gbk(std::string_view input) {
    std::string out;
    for (std::size_t i = 0; i < input.size(); ++i) {
        const auto byte = static_cast<unsigned char>(input[i]);
        if (byte < 0x80) {
            if (byte != 0) {
                out += static_cast<char>(byte);
            }
            continue;
        }
        const auto next = i + 1 < input.size() ? static_cast<unsigned char>(input[++i]) : byte;
        unsigned trail = 0x40 + next % 190u;  // 40..FE without 7F
        if (trail >= 0x7F) {
            ++trail;
        }
        out += static_cast<char>(0x81 + (byte - 0x80) % 0x7E);
        out += static_cast<char>(trail);
    }
    return out;
}

}  // namespace notepics::fuzz
