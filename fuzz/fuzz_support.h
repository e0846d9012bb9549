// Shared pieces of the fuzz targets: the invariant check, the drawing of int
// arguments and valid GBK made of arbitrary bytes. The plain character walk
// that the targets compare the text routines against is text_reference.h,
// shared with the tests.
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

#include "text_reference.h"

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
