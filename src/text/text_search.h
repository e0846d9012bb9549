// Internal to notepics_text: the character-aligned search behind text_find,
// text_find_last, text_replace and text_split.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
//
// The fast search restarts after every candidate and verifies each one
// whole, at a cost of up to the needle's length per candidate; on texts
// full of overlapping or misaligned occurrences of a long needle the total
// grows with text length times needle length. Once verifying has cost more
// than the text scanned so far, the search switches to a single pass of a
// prefix-function automaton that reports every occurrence in order and
// resumes where the previous call stopped, so the rest of the scan stays
// linear as well.
class AlignedSearch {
  public:
    static constexpr std::size_t npos = std::string_view::npos;

    // `needle` must not be empty; `walk_origin` is where the walk begins.
    AlignedSearch(std::string_view text, std::string_view needle, bool ignore_case,
                  std::size_t walk_origin)
        : text_(text),
          needle_(needle),
          ignore_case_(ignore_case),
          known_start_(walk_origin),
          scan_origin_(walk_origin) {}

    // First aligned occurrence at index `from` or later (0-based), or npos.
    // Calls must not go backwards: `from` is at least the walk origin and at
    // least the previous result.
    std::size_t next(std::size_t from);

    // Starts a new walk at `position` (after a replaced or split match).
    void restart_walk_at(std::size_t position) { known_start_ = position; }

  private:
    // Next position at or after `from` where the needle occurs (fast search:
    // exactly when case matters, else by its first and last bytes only).
    std::size_t next_candidate(std::size_t from) const;
    // Next occurrence starting at or after `from`, from the automaton.
    std::size_t next_linear_occurrence(std::size_t from);
    void start_linear_scan(std::size_t from);
    bool starts_character(std::size_t candidate);
    bool matches_at(std::size_t candidate) const;

    std::string_view text_;
    std::string_view needle_;
    bool ignore_case_;
    std::size_t known_start_;      // a position the walk is known to land on
    std::size_t scan_origin_;      // where this search began
    std::size_t verify_cost_ = 0;  // needle bytes spent verifying candidates

    // The linear scan, once taken: the needle (case-folded when case is
    // ignored), its prefix function, the next byte to read and the length of
    // the needle prefix that ends right before it.
    bool linear_ = false;
    std::string folded_needle_;
    std::vector<std::size_t> border_;
    std::size_t scan_at_ = 0;
    std::size_t matched_ = 0;
};

}  // namespace notepics::detail
