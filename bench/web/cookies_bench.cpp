// merge_cookies and join_unique over 10,000 pairs: both stay linear.
#include <benchmark/benchmark.h>

#include <string>
#include <string_view>

#include "web/cookies.h"

namespace notepics {
namespace {

// `count` pairs "c<i>=<value>" for i from `first`, joined by "; ".
Text cookie_text(int first, int count, std::string_view value) {
    Text text;
    for (int i = first; i < first + count; ++i) {
        text += 'c';
        text += std::to_string(i);
        text += '=';
        text += value;
        text += "; ";
    }
    return text_head(text, text_len(text) - 2);
}

void BM_MergeCookies(benchmark::State& state) {
    const int pairs = static_cast<int>(state.range(0));
    // Half of the response's names replace the caller's, half are new.
    const Text old_text = cookie_text(0, pairs, "old");
    const Text new_text = cookie_text(pairs / 2, pairs, "new");
    for (auto _ : state) {
        Text old_cookies = old_text;
        Text new_cookies = new_text;
        Text merged = merge_cookies(old_cookies, new_cookies);
        benchmark::DoNotOptimize(merged.data());
    }
    state.SetComplexityN(pairs);
}
BENCHMARK(BM_MergeCookies)
    ->RangeMultiplier(10)
    ->Range(100, 10000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

void BM_JoinUniqueOnSeparator(benchmark::State& state) {
    const int pairs = static_cast<int>(state.range(0));
    // Every pair twice.
    const Text text = cookie_text(0, pairs / 2, "v") + "; " + cookie_text(0, pairs / 2, "v");
    for (auto _ : state) {
        Text joined = join_unique(text, "; ", true);
        benchmark::DoNotOptimize(joined.data());
    }
    state.SetComplexityN(pairs);
}
BENCHMARK(BM_JoinUniqueOnSeparator)
    ->RangeMultiplier(10)
    ->Range(100, 10000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

void BM_JoinUniqueOnCharacters(benchmark::State& state) {
    // 10,000 distinct two-byte characters (lead 0x81..0xFE, trail 0x40..0xFE).
    Text text;
    for (int i = 0; i < state.range(0); ++i) {
        text += static_cast<char>(0x81 + i / 190);
        text += static_cast<char>(0x40 + i % 190);
    }
    for (auto _ : state) {
        Text joined = join_unique(text, ",", false);
        benchmark::DoNotOptimize(joined.data());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_JoinUniqueOnCharacters)
    ->RangeMultiplier(10)
    ->Range(100, 10000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace notepics

BENCHMARK_MAIN();
