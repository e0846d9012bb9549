// Throughput of the conversion between GBK text and UTF-16LE over 16 MiB of
// text in which about half the characters take two bytes, and over 16 MiB of
// two-byte characters only. Every figure is MB/s of the GBK side (1 MB =
// 10^6 bytes) in the counter "MB". The picture harvest's page (mostly ASCII)
// is measured in regex_bench.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "text/codepage.h"

namespace notepics {
namespace {

constexpr std::size_t kTextBytes = 16u << 20;

// Deterministic mix of ASCII and GB2312 hanzi (lead B0..D7, trail A1..FE),
// one character in two of each kind (`ascii_share` 1 in 2), or hanzi only
// (`ascii_share` 0).
Text make_gbk_text(std::size_t size, int ascii_share) {
    Text text;
    text.reserve(size);
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    static constexpr char kAscii[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJ0123456789 .,:/=";
    while (text.size() + 2 <= size) {
        const std::uint32_t r = next();
        if (ascii_share != 0 && (r & 1) != 0) {
            text += kAscii[(r >> 1) % (sizeof kAscii - 1)];
        } else {
            text += static_cast<char>(0xB0 + (r >> 1) % 40);
            text += static_cast<char>(0xA1 + (r >> 7) % 94);
        }
    }
    text.resize(size, 'x');
    return text;
}

const Text& gbk_text() {
    static const Text text = make_gbk_text(kTextBytes, 1);
    return text;
}

const Text& hanzi_text() {
    static const Text text = make_gbk_text(kTextBytes, 0);
    return text;
}

void set_megabytes_per_second(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(bytes));
    state.counters["MB"] = benchmark::Counter(static_cast<double>(bytes) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

// Each conversion over each text: `text` is gbk_text or hanzi_text.
void BM_AnsiToUtf16(benchmark::State& state, const Text& (*text_of)()) {
    const Text& text = text_of();
    for (auto _ : state) {
        ByteBuffer units = ansi_to_utf16(text);
        benchmark::DoNotOptimize(units.data());
    }
    set_megabytes_per_second(state, text.size());
}
BENCHMARK_CAPTURE(BM_AnsiToUtf16, mixed, &gbk_text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AnsiToUtf16, hanzi_only, &hanzi_text)->Unit(benchmark::kMillisecond);

void BM_Utf16ToAnsi(benchmark::State& state, const Text& (*text_of)()) {
    const Text& text = text_of();
    const ByteBuffer units = ansi_to_utf16(text);
    if (utf16_to_ansi(units) != text) {
        state.SkipWithError("the text does not convert back to itself");
        return;
    }
    for (auto _ : state) {
        Text back = utf16_to_ansi(units);
        benchmark::DoNotOptimize(back.data());
    }
    set_megabytes_per_second(state, text.size());
}
BENCHMARK_CAPTURE(BM_Utf16ToAnsi, mixed, &gbk_text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Utf16ToAnsi, hanzi_only, &hanzi_text)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace notepics

BENCHMARK_MAIN();
