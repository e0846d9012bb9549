// Plain reference versions of the character-aligned text search, replace,
// split and trim, against which the tests and the fuzz targets check the
// library.
//
// They are written for clarity, not speed: they walk the text one character
// at a time exactly as the contracts in text/text.h describe (a byte of 0x80
// or above takes the next byte with it), and try the needle at every
// position the walk lands on.
//
//   reference::find("\xB0\xA1\xB0", "\xA1\xB0", 1, false) == -1
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The fuzz targets mark checking code so that coverage follows the code
// under test only.
#if defined(NOTEPICS_FUZZ_ORACLE)
#define NOTEPICS_REFERENCE_CODE NOTEPICS_FUZZ_ORACLE
#else
#define NOTEPICS_REFERENCE_CODE
#endif

namespace notepics::reference {

NOTEPICS_REFERENCE_CODE inline unsigned char fold(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + 32) : byte;
}

// Bytes of the character that starts at `i`.
NOTEPICS_REFERENCE_CODE inline std::size_t char_step(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
}

NOTEPICS_REFERENCE_CODE inline bool matches_at(std::string_view text, std::size_t i,
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
NOTEPICS_REFERENCE_CODE inline bool walk_lands_on(std::string_view text, std::size_t origin,
                                                  std::size_t i) {
    std::size_t at = origin;
    while (at < i) {
        at += char_step(text, at);
    }
    return at == i;
}

// 1-based position of the first occurrence at `start` or later, or -1.
NOTEPICS_REFERENCE_CODE inline int find(std::string_view text, std::string_view needle, int start,
                                        bool ignore_case) {
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
NOTEPICS_REFERENCE_CODE inline int find_last(std::string_view text, std::string_view needle,
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

NOTEPICS_REFERENCE_CODE inline std::string replace(std::string_view text, std::string_view old_text,
                                                   std::string_view new_text, int start, int count,
                                                   bool case_sensitive) {
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

NOTEPICS_REFERENCE_CODE inline std::vector<std::string> split(std::string_view text,
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
NOTEPICS_REFERENCE_CODE inline std::string trim(std::string_view text) {
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

}  // namespace notepics::reference
