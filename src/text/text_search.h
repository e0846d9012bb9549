// Internal to notepics_text: the character-aligned search behind text_find,
// text_find_last, text_replace and text_split.
#pragma once

#include <cstddef>
#include <string_view>

namespace notepics::detail {

inline unsigned char fold_ascii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Bytes taken by the character starting at `i`: a byte of 0x80 or above
// takes the next byte with it (a lone lead byte at the end counts as 2).
inline std::size_t char_width(std::string_view text, std::size_t i) {
    return static_cast<unsigned char>(text[i]) >= 0x80 ? 2 : 1;
}

// Finds occurrences of a needle that begin where a character begins, for a
// walk that starts at a given byte (the walk origin) and steps over two-byte
// characters whole.
//
// Candidates come from a fast byte search; whether a candidate lies on a
// character start is decided locally: the walk lands on position c exactly
// when the run of bytes >= 0x80 just before c (bounded by the last position
// known to start a character) has even length. Each byte is looked at a
// bounded number of times, so a scan over the whole text stays linear.
class AlignedSearch {
  public:
    static constexpr std::size_t npos = std::string_view::npos;

    // `needle` must not be empty; `walk_origin` is where the walk begins.
    AlignedSearch(std::string_view text, std::string_view needle, bool ignore_case,
                  std::size_t walk_origin)
        : text_(text), needle_(needle), ignore_case_(ignore_case), known_start_(walk_origin) {}

    // First aligned occurrence at index `from` or later (0-based), or npos.
    // Calls must not go backwards: `from` is at least the walk origin and at
    // least the previous result.
    std::size_t next(std::size_t from);

    // Starts a new walk at `position` (after a replaced or split match).
    void restart_walk_at(std::size_t position) { known_start_ = position; }

  private:
    std::size_t next_candidate(std::size_t from) const;
    bool starts_character(std::size_t candidate);
    bool matches_at(std::size_t candidate) const;

    std::string_view text_;
    std::string_view needle_;
    bool ignore_case_;
    std::size_t known_start_;  // a position the walk is known to land on
};

}  // namespace notepics::detail
