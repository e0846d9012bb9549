// Throughput of the character-aligned search, replace and split over large
// GBK texts, beside plain byte searches on the same buffer.
//
// The text has lines of 60 to 140 bytes, about half of whose characters take
// two bytes (a quarter of those with an ASCII second byte, so that the
// character rule has misaligned candidates to reject). An ASCII needle
// occurs every 2 to 6 KiB.
//
// Replace and split return fresh values of the text's size. glibc serves a
// block above 32 MiB with a fresh mapping every time, so at 32 MiB each
// iteration also pays the first-touch page faults of its result, while at
// 16 MiB the freed block is reused. To compare the two sizes on equal terms
// run with GLIBC_TUNABLES=glibc.malloc.mmap_threshold=1048576 (every large
// block mapped afresh).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <string_view>

#include "text/text.h"

namespace notepics {
namespace {

constexpr std::string_view kNeedle = "data-image-key=";
constexpr std::string_view kNeedleOtherCase = "DATA-Image-KEY=";
constexpr std::string_view kReplacement = "data-picture-key=";
constexpr std::int64_t kMiB = 1024 * 1024;

Text make_gbk_text(std::size_t size) {
    std::mt19937 engine(936);
    auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(engine() % n); };
    static constexpr std::string_view kAscii =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ,.:;=\"/<>-_";

    Text text;
    text.reserve(size + 256);
    std::size_t next_needle = 2048 + below(4096);
    while (text.size() < size) {
        const std::size_t line_end = text.size() + 60 + below(81);
        while (text.size() < line_end) {
            if (below(2) == 0) {
                text.push_back(kAscii[below(static_cast<std::uint32_t>(kAscii.size()))]);
            } else {
                text.push_back(static_cast<char>(0x81 + below(0x7E)));
                text.push_back(
                    static_cast<char>(below(4) == 0 ? 0x40 + below(0x3F) : 0xA1 + below(0x5E)));
            }
        }
        text.append("\r\n");
        if (text.size() >= next_needle) {
            text.append(kNeedle);
            next_needle = text.size() + 2048 + below(4096);
        }
    }
    text.resize(size);
    return text;
}

const Text& gbk_text(std::int64_t mebibytes) {
    static std::map<std::int64_t, Text> texts;
    auto it = texts.find(mebibytes);
    if (it == texts.end()) {
        it = texts.emplace(mebibytes, make_gbk_text(static_cast<std::size_t>(mebibytes * kMiB)))
                 .first;
    }
    return it->second;
}

void set_throughput(benchmark::State& state, const Text& text) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

// Each search benchmark finds every occurrence of the needle, one call per
// hit, resuming right after the previous hit.

void BM_TextFind(benchmark::State& state) {
    const Text& text = gbk_text(state.range(0));
    const bool ignore_case = state.range(1) != 0;
    const std::string_view needle = ignore_case ? kNeedleOtherCase : kNeedle;
    for (auto _ : state) {
        int hits = 0;
        for (int at = text_find(text, needle, 1, ignore_case); at > 0;
             at = text_find(text, needle, at + static_cast<int>(needle.size()), ignore_case)) {
            ++hits;
        }
        benchmark::DoNotOptimize(hits);
        state.counters["hits"] = hits;
    }
    set_throughput(state, text);
}

void BM_Memmem(benchmark::State& state) {
    const Text& text = gbk_text(state.range(0));
    for (auto _ : state) {
        int hits = 0;
        const char* at = text.data();
        const char* const end = text.data() + text.size();
        while (const void* hit =
                   memmem(at, static_cast<std::size_t>(end - at), kNeedle.data(), kNeedle.size())) {
            ++hits;
            at = static_cast<const char*>(hit) + kNeedle.size();
        }
        benchmark::DoNotOptimize(hits);
        state.counters["hits"] = hits;
    }
    set_throughput(state, text);
}

void BM_StringViewFind(benchmark::State& state) {
    const Text& text = gbk_text(state.range(0));
    const std::string_view view = text;
    for (auto _ : state) {
        int hits = 0;
        for (std::size_t at = view.find(kNeedle); at != std::string_view::npos;
             at = view.find(kNeedle, at + kNeedle.size())) {
            ++hits;
        }
        benchmark::DoNotOptimize(hits);
        state.counters["hits"] = hits;
    }
    set_throughput(state, text);
}

void BM_TextReplaceAll(benchmark::State& state) {
    const Text& text = gbk_text(state.range(0));
    for (auto _ : state) {
        Text replaced = text_replace(text, kNeedle, kReplacement);
        benchmark::DoNotOptimize(replaced.data());
    }
    set_throughput(state, text);
}

// Split on line breaks: a piece every hundred bytes or so.
void BM_TextSplitLines(benchmark::State& state) {
    const Text& text = gbk_text(state.range(0));
    for (auto _ : state) {
        TextArray lines = text_split(text, "\r\n");
        benchmark::DoNotOptimize(lines.data());
        state.counters["pieces"] = static_cast<double>(lines.size());
    }
    set_throughput(state, text);
}

// Split on the sparse needle: a few thousand large pieces.
void BM_TextSplitSparse(benchmark::State& state) {
    const Text& text = gbk_text(state.range(0));
    for (auto _ : state) {
        TextArray pieces = text_split(text, kNeedle);
        benchmark::DoNotOptimize(pieces.data());
        state.counters["pieces"] = static_cast<double>(pieces.size());
    }
    set_throughput(state, text);
}

BENCHMARK(BM_Memmem)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StringViewFind)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextFind)
    ->ArgNames({"MiB", "ignore_case"})
    ->Args({16, 0})
    ->Args({16, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextReplaceAll)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextSplitLines)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextSplitSparse)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace notepics

BENCHMARK_MAIN();
