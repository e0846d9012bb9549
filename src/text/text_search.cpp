#include "text/text_search.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/byte_search.h"

namespace notepics::detail {

namespace {

bool equal_ignoring_case(const char* a, const char* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (fold_ascii(static_cast<unsigned char>(a[i])) !=
            fold_ascii(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool is_ascii_letter(unsigned char c) {
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

// First index i >= from where the first and last bytes of the needle could
// match ignoring ASCII case. A filter: the caller verifies the whole needle.
std::size_t caseless_candidate(std::string_view text, std::string_view needle, std::size_t from) {
    const std::size_t m = needle.size();
    if (text.size() < m || from > text.size() - m) {
        return std::string_view::npos;
    }
    const std::size_t last_start = text.size() - m;  // last index a match can begin at
    const auto first = static_cast<unsigned char>(needle.front());
    const auto last = static_cast<unsigned char>(needle.back());
    // Letters are compared with bit 5 forced on: 'A' and 'a' meet, and so may
    // a few non-letters, which the full comparison weeds out.
    const unsigned char first_mask = is_ascii_letter(first) ? 0x20 : 0x00;
    const unsigned char last_mask = is_ascii_letter(last) ? 0x20 : 0x00;
    const unsigned char first_key = first | first_mask;
    const unsigned char last_key = last | last_mask;
    const char* data = text.data();
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i first_or = _mm_set1_epi8(static_cast<char>(first_mask));
    const __m128i last_or = _mm_set1_epi8(static_cast<char>(last_mask));
    const __m128i first_eq = _mm_set1_epi8(static_cast<char>(first_key));
    const __m128i last_eq = _mm_set1_epi8(static_cast<char>(last_key));
    while (i + 16 <= last_start + 1) {
        const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i tail = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + m - 1));
        const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(head, first_or), first_eq),
                                          _mm_cmpeq_epi8(_mm_or_si128(tail, last_or), last_eq));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0) {
            return i + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
        }
        i += 16;
    }
#endif
    for (; i <= last_start; ++i) {
        if ((static_cast<unsigned char>(data[i]) | first_mask) == first_key &&
            (static_cast<unsigned char>(data[i + m - 1]) | last_mask) == last_key) {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::size_t AlignedSearch::next_candidate(std::size_t from) const {
    if (from >= text_.size() || text_.size() - from < needle_.size()) {
        return npos;
    }
    if (ignore_case_) {
        return caseless_candidate(text_, needle_, from);
    }
    const std::size_t hit = find_bytes(text_.substr(from), needle_);
    return hit == std::string_view::npos ? npos : from + hit;
}

bool AlignedSearch::matches_at(std::size_t candidate) const {
    const char* at = text_.data() + candidate;
    return ignore_case_ ? equal_ignoring_case(at, needle_.data(), needle_.size())
                        : std::memcmp(at, needle_.data(), needle_.size()) == 0;
}

bool AlignedSearch::starts_character(std::size_t candidate) {
    // Count the bytes >= 0x80 just before the candidate, back to the last
    // known character start. Whatever byte below 0x80 ends that run (a
    // character of its own or the second byte of one), the walk resumes
    // right after it, so the run's parity decides.
    std::size_t run = 0;
    while (candidate - run > known_start_ &&
           static_cast<unsigned char>(text_[candidate - run - 1]) >= 0x80) {
        ++run;
    }
    const bool aligned = run % 2 == 0;
    known_start_ = aligned ? candidate : candidate + 1;
    return aligned;
}

void AlignedSearch::start_linear_scan(std::size_t from) {
    linear_ = true;
    folded_needle_.assign(needle_);
    if (ignore_case_) {
        for (char& c : folded_needle_) {
            c = static_cast<char>(fold_ascii(static_cast<unsigned char>(c)));
        }
    }
    // border_[i]: length of the longest proper prefix of the needle's first
    // i + 1 bytes that is also a suffix of them.
    border_.assign(folded_needle_.size(), 0);
    for (std::size_t i = 1, k = 0; i < folded_needle_.size(); ++i) {
        while (k > 0 && folded_needle_[i] != folded_needle_[k]) {
            k = border_[k - 1];
        }
        if (folded_needle_[i] == folded_needle_[k]) {
            ++k;
        }
        border_[i] = k;
    }
    scan_at_ = from;
    matched_ = 0;
}

std::size_t AlignedSearch::next_linear_occurrence(std::size_t from) {
    if (from > scan_at_) {
        scan_at_ = from;
        matched_ = 0;
    }
    // Occurrences that end past scan_at_ but start before `from` are read
    // and passed over, so every byte is read once over all calls.
    const std::size_t m = folded_needle_.size();
    while (scan_at_ < text_.size()) {
        auto c = static_cast<unsigned char>(text_[scan_at_++]);
        if (ignore_case_) {
            c = fold_ascii(c);
        }
        while (matched_ > 0 && static_cast<unsigned char>(folded_needle_[matched_]) != c) {
            matched_ = border_[matched_ - 1];
        }
        if (static_cast<unsigned char>(folded_needle_[matched_]) == c) {
            ++matched_;
        }
        if (matched_ == m) {
            matched_ = border_[m - 1];
            const std::size_t start = scan_at_ - m;
            if (start >= from) {
                return start;
            }
        }
    }
    return npos;
}

std::size_t AlignedSearch::next(std::size_t from) {
    // Leeway before the linear scan is taken: a few verified candidates
    // never switch a search over a short stretch.
    const std::size_t leeway = 4 * needle_.size() + 4096;
    for (std::size_t candidate = from;; ++candidate) {
        if (!linear_ && verify_cost_ > candidate - scan_origin_ + leeway) {
            start_linear_scan(candidate);
        }
        if (linear_) {
            candidate = next_linear_occurrence(candidate);
        } else {
            candidate = next_candidate(candidate);
            if (candidate != npos && !ignore_case_) {
                verify_cost_ += needle_.size();  // the byte search compared the whole needle
            }
        }
        if (candidate == npos) {
            return npos;
        }
        if (candidate < known_start_) {
            continue;  // inside a character the walk has already stepped over
        }
        if (!starts_character(candidate)) {
            continue;
        }
        // Exact and linear candidates hold the needle already.
        if (linear_ || !ignore_case_) {
            return candidate;
        }
        verify_cost_ += needle_.size();
        if (matches_at(candidate)) {
            return candidate;
        }
    }
}

}  // namespace notepics::detail
