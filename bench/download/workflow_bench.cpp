// The whole workflow on loopback for a note of 50 pictures of 200 KiB each
// (note page, 50 downloads, 50 atomic writes), beside the curl command line
// fetching the same 50 picture addresses one after the other into files.
// Both talk to the same sample service and save into a fresh folder each
// time, as for a note fetched the first time; compare the real times.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "download/workflow.h"
#include "sample_service.h"

extern char** environ;

namespace notepics {
namespace {

constexpr int kPictures = 50;
constexpr std::size_t kPictureBytes = 200 * 1024;
constexpr std::string_view kQuery = "?imageView2/2/w/1200/format/webp";

std::string picture_name(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "p%02d", i);
    return name;
}

// The sample service with one note "bench" of kPictures pictures of random
// bytes, started once for the whole program.
struct BenchService {
    sample::ScratchFolder served;
    std::unique_ptr<sample::SampleService> service;
    std::string error;

    BenchService() {
        std::mt19937 random(42);
        std::string identifiers;
        for (int i = 1; i <= kPictures; ++i) {
            std::string bytes(kPictureBytes, '\0');
            for (char& byte : bytes) {
                byte = static_cast<char>(random());
            }
            sample::write_file(served.path() / picture_name(i), bytes);
            identifiers += i == 1 ? "" : ",";
            identifiers += picture_name(i);
        }
        service = sample::SampleService::start(
            {"--note", "bench=" + identifiers, "--pictures", served.path().string()}, &error);
    }
};

BenchService& bench_service() {
    static BenchService instance;
    return instance;
}

// A window that only holds the box text.
class QuietWindow final : public NoteWindow {
  public:
    explicit QuietWindow(std::string box) : box_(std::move(box)) {}
    Text link_text() override { return box_; }
    void set_link_text(std::string_view text) override { box_ = text; }
    void set_caption(std::string_view text) override { caption_ = text; }
    void show_message(std::string_view) override { caption_ = "message"; }
    void process_pending_messages() override {}
    const Text& caption() const { return caption_; }

  private:
    Text box_;
    Text caption_;
};

void BM_Workflow(benchmark::State& state) {
    BenchService& bench = bench_service();
    if (!bench.service) {
        state.SkipWithError(bench.error.c_str());
        return;
    }
    const std::string note = text_concat({bench.service->web_origin(), "explore/bench"});
    for (auto _ : state) {
        state.PauseTiming();
        auto folder = std::make_unique<sample::ScratchFolder>();
        const WorkflowSettings settings{.web_origin = bench.service->web_origin(),
                                        .picture_origin = bench.service->picture_origin(),
                                        .picture_folder = folder->path()};
        QuietWindow window(note);
        state.ResumeTiming();

        on_link_changed(window, settings);

        state.PauseTiming();
        const bool saved_all = window.caption() == "\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9";  // 下载完成
        folder.reset();
        state.ResumeTiming();
        if (!saved_all) {
            state.SkipWithError("the run did not save every picture");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kPictures * static_cast<int64_t>(kPictureBytes));
}
BENCHMARK(BM_Workflow)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_CurlCommandLine(benchmark::State& state) {
    BenchService& bench = bench_service();
    if (!bench.service) {
        state.SkipWithError(bench.error.c_str());
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto folder = std::make_unique<sample::ScratchFolder>();
        std::vector<std::string> command = {NOTEPICS_CURL_PROGRAM, "--silent", "--fail"};
        for (int i = 1; i <= kPictures; ++i) {
            command.push_back("--output");
            command.push_back((folder->path() / (picture_name(i) + ".jpg")).string());
            command.push_back(
                text_concat({bench.service->picture_origin(), picture_name(i), kQuery}));
        }
        std::vector<char*> argv;
        for (std::string& word : command) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        state.ResumeTiming();

        pid_t pid = 0;
        int status = 0;
        const bool ran =
            ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 &&
            ::waitpid(pid, &status, 0) == pid;

        state.PauseTiming();
        folder.reset();
        state.ResumeTiming();
        if (!ran || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * kPictures * static_cast<int64_t>(kPictureBytes));
}
BENCHMARK(BM_CurlCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
}  // namespace notepics

BENCHMARK_MAIN();
