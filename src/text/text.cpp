#include "text/text.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "text/text_search.h"

namespace notepics {

namespace {

// Byte counts and positions travel as int; a buffer past INT_MAX bytes is
// reported as INT_MAX rather than wrapping round.
int clamp_to_int(std::size_t n) {
    return n > static_cast<std::size_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(n);
}

std::size_t clamp_count(int n, std::size_t size) {
    return n <= 0 ? 0 : std::min(static_cast<std::size_t>(n), size);
}

}  // namespace

int text_len(std::string_view text) {
    return clamp_to_int(text.size());
}

int bytes_len(const ByteBuffer& b) {
    return clamp_to_int(b.size());
}

Text text_concat(std::initializer_list<std::string_view> parts) {
    std::size_t total = 0;
    for (std::string_view part : parts) {
        total += part.size();
    }
    Text joined;
    joined.reserve(total);
    for (std::string_view part : parts) {
        joined.append(part);
    }
    return joined;
}

ByteBuffer bytes_concat(std::initializer_list<ByteBuffer> parts) {
    std::size_t total = 0;
    for (const ByteBuffer& part : parts) {
        total += part.size();
    }
    ByteBuffer joined;
    joined.reserve(total);
    for (const ByteBuffer& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

int text_compare(std::string_view a, std::string_view b, bool case_sensitive) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (!case_sensitive) {
            x = detail::fold_ascii(x);
            y = detail::fold_ascii(y);
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}

int text_find(std::string_view text, std::string_view needle, int start, bool ignore_case) {
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= text.size()) {
        return -1;
    }
    if (needle.empty()) {
        return 1;
    }
    detail::AlignedSearch search(text, needle, ignore_case, from);
    const std::size_t hit = search.next(from);
    return hit == detail::AlignedSearch::npos ? -1 : clamp_to_int(hit + 1);
}

int text_find_last(std::string_view text, std::string_view needle, int start, bool ignore_case) {
    if (start <= 1) {
        return -1;
    }
    const std::string_view stretch = text.substr(0, static_cast<std::size_t>(start) - 1);
    if (stretch.empty()) {
        return -1;
    }
    if (needle.empty()) {
        return 1;
    }
    detail::AlignedSearch search(stretch, needle, ignore_case, 0);
    std::size_t last = detail::AlignedSearch::npos;
    for (std::size_t hit = search.next(0); hit != detail::AlignedSearch::npos;
         hit = search.next(hit + 1)) {
        last = hit;
    }
    return last == detail::AlignedSearch::npos ? -1 : clamp_to_int(last + 1);
}

Text text_head(std::string_view text, int n) {
    return Text(text.substr(0, clamp_count(n, text.size())));
}

Text text_tail(std::string_view text, int n) {
    return Text(text.substr(text.size() - clamp_count(n, text.size())));
}

Text text_slice(std::string_view text, int start, int n) {
    if (start < 1 || static_cast<std::size_t>(start) > text.size() || n <= 0) {
        return {};
    }
    return Text(text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

Text text_replace(std::string_view text, std::string_view old_text, std::string_view new_text,
                  int start, int count, bool case_sensitive) {
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (text.empty() || old_text.empty() || from >= text.size() || count == 0) {
        return Text(text);
    }
    // Find the matches first so that the result is allocated once at its
    // final size: a large text is never copied again while it grows.
    std::vector<std::size_t> hits;
    detail::AlignedSearch search(text, old_text, !case_sensitive, from);
    for (std::size_t next = from; count < 0 || hits.size() < static_cast<std::size_t>(count);) {
        const std::size_t hit = search.next(next);
        if (hit == detail::AlignedSearch::npos) {
            break;
        }
        hits.push_back(hit);
        next = hit + old_text.size();
        search.restart_walk_at(next);
    }
    if (hits.empty()) {
        return Text(text);
    }
    Text result;
    result.reserve(text.size() - hits.size() * old_text.size() + hits.size() * new_text.size());
    std::size_t copied = 0;
    for (const std::size_t hit : hits) {
        result.append(text.substr(copied, hit - copied));
        result.append(new_text);
        copied = hit + old_text.size();
    }
    result.append(text.substr(copied));
    return result;
}

TextArray text_split(std::string_view text, std::string_view separator) {
    TextArray pieces;
    if (text.empty()) {
        return pieces;
    }
    if (separator.empty()) {
        pieces.emplace_back(text);
        return pieces;
    }
    detail::AlignedSearch search(text, separator, false, 0);
    std::size_t piece_start = 0;
    for (;;) {
        const std::size_t hit = search.next(piece_start);
        if (hit == detail::AlignedSearch::npos) {
            break;
        }
        pieces.emplace_back(text.substr(piece_start, hit - piece_start));
        piece_start = hit + separator.size();
        search.restart_walk_at(piece_start);
    }
    if (piece_start < text.size()) {
        pieces.emplace_back(text.substr(piece_start));
    }
    return pieces;
}

Text text_trim(std::string_view text) {
    auto space_width = [&](std::size_t i) -> std::size_t {
        if (text[i] == ' ') {
            return 1;
        }
        if (i + 1 < text.size() && text[i] == '\xA1' && text[i + 1] == '\xA1') {
            return 2;
        }
        return 0;
    };
    // Walk whole characters so an A1 A1 pair is recognised only where a
    // character begins.
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t width = space_width(begin);
        if (width == 0) {
            break;
        }
        begin += width;
    }
    std::size_t end = begin;  // one past the last character that is not a space
    for (std::size_t i = begin; i < text.size();) {
        const std::size_t width = space_width(i);
        const std::size_t step = width != 0 ? width : detail::char_width(text, i);
        if (width == 0) {
            end = std::min(i + step, text.size());
        }
        i += step;
    }
    return Text(text.substr(begin, end - begin));
}

Text text_upper(std::string_view text) {
    Text upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

Text int_to_text(long long value) {
    return std::to_string(value);
}

ByteBuffer text_to_bytes(std::string_view text) {
    return ByteBuffer(text.begin(), text.end());
}

Text bytes_to_text(const ByteBuffer& bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    return Text(bytes.begin(), end);
}

ByteBuffer zero_bytes(int n) {
    return ByteBuffer(n <= 0 ? 0 : static_cast<std::size_t>(n), 0);
}

ByteBuffer bytes_from_address(const void* address, int n) {
    if (address == nullptr || n <= 0) {
        return {};
    }
    const auto* first = static_cast<const std::uint8_t*>(address);
    return ByteBuffer(first, first + n);
}

ByteBuffer bytes_head(const ByteBuffer& b, int n) {
    return ByteBuffer(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(clamp_count(n, b.size())));
}

ByteBuffer bytes_slice(const ByteBuffer& b, int start, int n) {
    const std::size_t from = start < 1 ? 0 : static_cast<std::size_t>(start) - 1;
    if (from >= b.size()) {
        return {};
    }
    const std::size_t length = clamp_count(n, b.size() - from);
    const auto first = b.begin() + static_cast<std::ptrdiff_t>(from);
    return ByteBuffer(first, first + static_cast<std::ptrdiff_t>(length));
}

bool bytes_equal(const ByteBuffer& a, const ByteBuffer& b) {
    return a == b;
}

int array_count(const TextArray& a) {
    return clamp_to_int(a.size());
}

Text array_at(const TextArray& a, int i) {
    if (i < 1 || static_cast<std::size_t>(i) > a.size()) {
        return {};
    }
    return a[static_cast<std::size_t>(i) - 1];
}

void array_append(TextArray& a, std::string_view text) {
    a.emplace_back(text);
}

}  // namespace notepics
