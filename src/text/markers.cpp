#include "text/markers.h"

#include <algorithm>

namespace notepics {

namespace {

// "#引号" in GBK: lets a caller write a double quote inside a marker.
constexpr std::string_view kQuoteStandIn = "#\xD2\xFD\xBA\xC5";

// A position argument's magnitude, with 1 read as 0, widened so that
// INT_MIN negates safely.
long long backward_offset(int position) {
    const long long n = -static_cast<long long>(position);
    return n == 1 ? 0 : n;
}

int clamp_position(long long position) {
    return static_cast<int>(std::clamp<long long>(position, std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max()));
}

}  // namespace

Text text_between(std::string_view source, std::string_view start_marker,
                  std::string_view end_marker, int start_position, bool ignore_case) {
    const Text start_text = text_replace(start_marker, kQuoteStandIn, "\"");
    const Text end_text = text_replace(end_marker, kQuoteStandIn, "\"");
    const int start_hit = text_find(source, start_text, start_position, ignore_case);
    if (start_hit < 0) {
        return {};
    }
    const long long content_start = static_cast<long long>(start_hit) + text_len(start_text);
    const int end_hit = text_find(source, end_text, clamp_position(content_start), ignore_case);
    if (end_hit < 0 || end_hit <= content_start) {
        return {};
    }
    return text_slice(source, clamp_position(content_start),
                      clamp_position(end_hit - content_start));
}

Text text_before(std::string_view source, std::string_view marker, int position, bool ignore_case) {
    int hit;
    if (position >= 0) {
        hit = text_find(source, marker, position, ignore_case);
    } else {
        const long long length = text_len(source);
        hit = text_find_last(source, marker, clamp_position(length - backward_offset(position) + 1),
                             ignore_case);
    }
    return hit < 0 ? Text{} : text_head(source, hit - 1);
}

Text text_after(std::string_view source, std::string_view marker, int position, bool ignore_case) {
    const long long length = text_len(source);
    int hit;
    if (position >= 0) {
        hit = text_find_last(source, marker, clamp_position(length - position + 1), ignore_case);
    } else {
        hit = text_find(source, marker, clamp_position(backward_offset(position)), ignore_case);
    }
    if (hit < 0) {
        return {};
    }
    return text_tail(source, clamp_position(length - text_len(marker) - hit + 1));
}

}  // namespace notepics
