// Marker extraction: text_between, text_before and text_after on arbitrary
// sources, markers, positions and case flags. Each result must equal the one
// the reference search gives by the stated algorithm, and must lie inside
// the source right next to its marker:
// - text_between: the bytes after an occurrence of the start marker (with
//   "#引号" read as a double quote) up to an occurrence of the end marker;
// - text_before: a prefix of the source followed by the marker;
// - text_after: a suffix of the source preceded by the marker.
//
// Input: start marker, end marker, then the source; ints and flags from the
// end.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "text/markers.h"

namespace notepics {
namespace {

// "#引号" in GBK.
constexpr std::string_view kQuoteStandIn = "#\xD2\xFD\xBA\xC5";

NOTEPICS_FUZZ_ORACLE int clamp_int(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// |position| with 1 read as 0.
NOTEPICS_FUZZ_ORACLE long long backward_offset(int position) {
    const long long n = -static_cast<long long>(position);
    return n == 1 ? 0 : n;
}

NOTEPICS_FUZZ_ORACLE bool ends_with_marker_at(std::string_view source, long long end,
                                              std::string_view marker, bool ignore_case) {
    const long long begin = end - static_cast<long long>(marker.size());
    return begin >= 0 &&
           reference::matches_at(source, static_cast<std::size_t>(begin), marker, ignore_case);
}

NOTEPICS_FUZZ_ORACLE void check_between(std::string_view source, std::string_view start_marker,
                                        std::string_view end_marker, int position,
                                        bool ignore_case) {
    const Text result = text_between(source, start_marker, end_marker, position, ignore_case);

    const std::string start_text =
        reference::replace(start_marker, kQuoteStandIn, "\"", 1, -1, true);
    const std::string end_text = reference::replace(end_marker, kQuoteStandIn, "\"", 1, -1, true);
    std::string expected;
    long long content_start = 0;  // 1-based
    const int start_hit = reference::find(source, start_text, position, ignore_case);
    if (start_hit > 0) {
        content_start = start_hit + static_cast<long long>(start_text.size());
        const int end_hit =
            reference::find(source, end_text, clamp_int(content_start), ignore_case);
        if (end_hit > 0 && end_hit > content_start) {
            expected = source.substr(static_cast<std::size_t>(content_start - 1),
                                     static_cast<std::size_t>(end_hit - content_start));
        }
    }
    FUZZ_CHECK(result == expected);

    if (!result.empty()) {
        // Inside the source, right after the start marker and right before
        // the end marker.
        const std::size_t offset = static_cast<std::size_t>(content_start - 1);
        FUZZ_CHECK(offset + result.size() <= source.size());
        FUZZ_CHECK(source.substr(offset, result.size()) == result);
        FUZZ_CHECK(start_text.empty() ||
                   ends_with_marker_at(source, content_start - 1, start_text, ignore_case));
        FUZZ_CHECK(reference::matches_at(source, offset + result.size(), end_text, ignore_case));
        FUZZ_CHECK(!end_text.empty());
    }
}

NOTEPICS_FUZZ_ORACLE void check_before(std::string_view source, std::string_view marker,
                                       int position, bool ignore_case) {
    const Text result = text_before(source, marker, position, ignore_case);
    const long long length = static_cast<long long>(source.size());
    const int hit =
        position >= 0
            ? reference::find(source, marker, position, ignore_case)
            : reference::find_last(source, marker,
                                   clamp_int(length - backward_offset(position) + 1), ignore_case);
    const std::string expected =
        hit < 0 ? std::string() : std::string(source.substr(0, static_cast<std::size_t>(hit - 1)));
    FUZZ_CHECK(result == expected);
    // A prefix of the source, followed there by the marker.
    FUZZ_CHECK(source.substr(0, result.size()) == result);
    if (hit > 0) {
        FUZZ_CHECK(reference::matches_at(source, result.size(), marker, ignore_case));
    }
}

NOTEPICS_FUZZ_ORACLE void check_after(std::string_view source, std::string_view marker,
                                      int position, bool ignore_case) {
    const Text result = text_after(source, marker, position, ignore_case);
    const long long length = static_cast<long long>(source.size());
    const int hit =
        position >= 0
            ? reference::find_last(source, marker, clamp_int(length - position + 1), ignore_case)
            : reference::find(source, marker, clamp_int(backward_offset(position)), ignore_case);
    std::string expected;
    if (hit > 0) {
        const long long tail = length - static_cast<long long>(marker.size()) - hit + 1;
        FUZZ_CHECK(tail >= 0);
        expected = source.substr(static_cast<std::size_t>(length - tail));
    }
    FUZZ_CHECK(result == expected);
    // A suffix of the source, preceded there by the marker.
    FUZZ_CHECK(result.size() <= source.size());
    FUZZ_CHECK(source.substr(source.size() - result.size()) == result);
    if (hit > 0) {
        FUZZ_CHECK(ends_with_marker_at(source, length - static_cast<long long>(result.size()),
                                       marker, ignore_case));
    }
}

}  // namespace
}  // namespace notepics

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace notepics;
    FuzzedDataProvider data(bytes, size);
    const std::string start_marker = data.ConsumeRandomLengthString(64);
    const std::string end_marker = data.ConsumeRandomLengthString(64);
    const bool ignore_case = data.ConsumeBool();
    const int between_position = fuzz::consume_int(data, 64);
    const int before_position = fuzz::consume_int(data, 64);
    const int after_position = fuzz::consume_int(data, 64);
    const std::string source = data.ConsumeRemainingBytesAsString();

    check_between(source, start_marker, end_marker, between_position, ignore_case);
    check_between(source, start_marker, end_marker, 0, false);
    check_before(source, start_marker, before_position, ignore_case);
    check_before(source, end_marker, 0, false);
    check_after(source, end_marker, after_position, ignore_case);
    check_after(source, start_marker, 0, false);
    return 0;
}
