// Picture-identifier harvest over a 2 MiB note page holding 50 identifiers:
// search, then read every match text, as the download workflow does. The
// page is the one node_regexp_bench.js builds, so the figures compare with
// node's RegExp on the same subject and pattern.
#include <benchmark/benchmark.h>

#include <string>

#include "regex/regex_object.h"
#include "text/codepage.h"

namespace notepics {
namespace {

constexpr std::string_view kPicturePattern = "traceId\":\".*?\"";
constexpr std::string_view kCharsetPattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
constexpr int kIdentifiers = 50;

// One block of page text: markup, JSON and CJK text (中文笔记内容，图片 in
// GBK), 512 bytes, no identifier.
Text filler_block() {
    Text block =
        "<div class=\"note-content\"><span class=\"desc\">\xD6\xD0\xCE\xC4\xB1\xCA\xBC\xC7"
        "\xC4\xDA\xC8\xDD\xA3\xAC\xCD\xBC\xC6\xAC</span>{\"imageScene\":\"WB_DFT\",\"url\":"
        "\"http://picture.example/notes_pre_post/abcdefghij\",\"width\":1080,\"height\":1440,"
        "\"livePhoto\":false,\"fileId\":\"\"}</div>\n";
    while (block.size() < 512) {
        block += "<i class=\"tag\">#\xD6\xD0\xCE\xC4</i>";
    }
    block.resize(512, ' ');
    return block;
}

// 2 MiB: 4096 blocks with an identifier after every 80th block.
Text note_page() {
    const Text block = filler_block();
    Text page;
    page.reserve(std::size_t{2} << 20);
    int identifiers = 0;
    for (int b = 1; b <= 4096; ++b) {
        page += block;
        if (b % 80 == 0 && identifiers < kIdentifiers) {
            page += "\"traceId\":\"1040g2sg3";
            page += std::to_string(1000000 + identifiers);
            page += "\",";
            ++identifiers;
        }
    }
    return page;
}

const Text& page() {
    static const Text text = note_page();
    return text;
}

void BM_PictureIdentifierHarvest(benchmark::State& state) {
    const Text& subject = page();
    for (auto _ : state) {
        RegexObject regex;
        regex.search(kPicturePattern, subject);
        TextArray identifiers;
        for (int i = 1; i <= regex.match_count(); ++i) {
            identifiers.push_back(regex.match_text(i));
        }
        if (identifiers.size() != kIdentifiers) {
            state.SkipWithError("wrong number of identifiers");
        }
        benchmark::DoNotOptimize(identifiers.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(subject.size()));
}
BENCHMARK(BM_PictureIdentifierHarvest)->Unit(benchmark::kMillisecond);

// ansi_to_utf16 over the page, in MB/s of GBK bytes (1 MB = 10^6 bytes).
void BM_PageToUtf16(benchmark::State& state) {
    const Text& subject = page();
    for (auto _ : state) {
        ByteBuffer units = ansi_to_utf16(subject, true);
        benchmark::DoNotOptimize(units.data());
    }
    state.counters["MB"] = benchmark::Counter(static_cast<double>(subject.size()) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PageToUtf16)->Unit(benchmark::kMillisecond);

// The charset step runs its pattern over the first 1024 bytes of a page.
void BM_CharsetOfPageHead(benchmark::State& state) {
    const Text head =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
        "charset=gbk\">" +
        page().substr(0, 950);
    for (auto _ : state) {
        RegexObject regex;
        regex.search(kCharsetPattern, head);
        Text charset = regex.submatch_text(1, 1);
        benchmark::DoNotOptimize(charset.data());
    }
}
BENCHMARK(BM_CharsetOfPageHead)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace notepics

BENCHMARK_MAIN();
