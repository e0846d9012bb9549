// web_request fetching a 1 MiB and a 20 MiB page from a loopback server,
// beside the curl command line fetching the same address (into /dev/null and
// into a file) and a bare in-process libcurl transfer (the routine's own work
// is the difference to the latter). Also how long after its time-out a
// transfer gives up on a server that goes silent.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "../../tests/support/loopback_server.h"
#include "web/web_request.h"

extern char** environ;

namespace notepics {
namespace {

using notepics::testing::LoopbackRoute;
using notepics::testing::LoopbackServer;

constexpr std::size_t kPageBytes = std::size_t{1} << 20;
constexpr std::size_t kLargePageBytes = std::size_t{20} << 20;

// A GBK page: a meta tag the charset probe finds and leaves alone, then
// markup up to `size` bytes.
std::string gbk_page(std::size_t size = kPageBytes) {
    std::string page = "<html><head><meta charset=\"gbk\"><title>\xD6\xD0</title></head><body>";
    while (page.size() < size) {
        page += "<p class=\"note\">\xD6\xD0\xCE\xC4 picture notes 0123456789</p>\n";
    }
    page.resize(size);
    return page;
}

// The same size in UTF-8, so that the whole body is decoded again.
std::string utf8_page() {
    std::string page = "<html><head><meta charset=\"utf-8\"></head><body>";
    while (page.size() < kPageBytes) {
        page += "<p class=\"note\">\xE4\xB8\xAD\xE6\x96\x87 picture notes 0123456789</p>\n";
    }
    page.resize(kPageBytes);
    return page;
}

LoopbackServer& server() {
    static LoopbackServer instance({
        LoopbackRoute::reply("/gbk", "200 OK", {"Content-Type: text/html"}, gbk_page()),
        LoopbackRoute::reply("/utf8", "200 OK", {"Content-Type: text/html"}, utf8_page()),
        LoopbackRoute::reply("/large", "200 OK", {"Content-Type: text/html"},
                             gbk_page(kLargePageBytes)),
        LoopbackRoute::raw("/silent", "", "hang"),
        LoopbackRoute::raw("/stall", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nhalf", "hang"),
    });
    return instance;
}

void fetch_with_routine(benchmark::State& state, const char* target,
                        std::size_t page_bytes = kPageBytes) {
    if (!server().running()) {
        state.SkipWithError(server().error().c_str());
        return;
    }
    const std::string url = server().http_url(target);
    for (auto _ : state) {
        WebRequestParams p{.url = url, .no_redirect = true};
        const Text body = web_request(p);
        if (p.response_bytes.size() != page_bytes) {
            state.SkipWithError("short body");
            return;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page_bytes));
}

void BM_WebRequestGbkPage(benchmark::State& state) {
    fetch_with_routine(state, "/gbk");
}
BENCHMARK(BM_WebRequestGbkPage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WebRequestUtf8Page(benchmark::State& state) {
    fetch_with_routine(state, "/utf8");
}
BENCHMARK(BM_WebRequestUtf8Page)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WebRequest20MiBPage(benchmark::State& state) {
    fetch_with_routine(state, "/large", kLargePageBytes);
}
BENCHMARK(BM_WebRequest20MiBPage)->Unit(benchmark::kMillisecond)->UseRealTime();

std::size_t append_bytes(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    body->append(data, size * count);
    return size * count;
}

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};

void BM_BareLibcurl(benchmark::State& state) {
    if (!server().running()) {
        state.SkipWithError(server().error().c_str());
        return;
    }
    const std::string url = server().http_url("/gbk");
    for (auto _ : state) {
        std::string body;
        const std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
        curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, append_bytes);
        curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
        if (curl_easy_perform(easy.get()) != CURLE_OK || body.size() != kPageBytes) {
            state.SkipWithError("transfer failed");
            return;
        }
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPageBytes));
}
BENCHMARK(BM_BareLibcurl)->Unit(benchmark::kMillisecond)->UseRealTime();

// The curl command line fetching `target` into `sink`.
void fetch_with_command_line(benchmark::State& state, const char* target, std::string sink,
                             std::size_t page_bytes) {
    if (!server().running()) {
        state.SkipWithError(server().error().c_str());
        return;
    }
    std::string url = server().http_url(target);
    std::string program = "curl", silent = "-s", output = "-o";
    char* argv[] = {program.data(), silent.data(), output.data(), sink.data(), url.data(), nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv, environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * page_bytes));
}

void BM_CurlCommandLine(benchmark::State& state) {
    fetch_with_command_line(state, "/gbk", "/dev/null", kPageBytes);
}
BENCHMARK(BM_CurlCommandLine)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CurlCommandLine20MiBIntoAFile(benchmark::State& state) {
    const std::string file = "/tmp/notepics-bench-page-" + std::to_string(getpid());
    fetch_with_command_line(state, "/large", file, kLargePageBytes);
    std::remove(file.c_str());
}
BENCHMARK(BM_CurlCommandLine20MiBIntoAFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// How long a request with a time-out of 1 s takes on a server that goes
// silent before its head (page) or in the middle of the body (stall).
void give_up_on(benchmark::State& state, const char* target) {
    if (!server().running()) {
        state.SkipWithError(server().error().c_str());
        return;
    }
    for (auto _ : state) {
        WebRequestParams p{.url = server().http_url(target), .timeout_seconds = 1};
        benchmark::DoNotOptimize(web_request(p).data());
    }
}

void BM_GiveUpOnSilentServerBeforeHead(benchmark::State& state) {
    give_up_on(state, "/silent");
}
BENCHMARK(BM_GiveUpOnSilentServerBeforeHead)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_GiveUpOnSilentServerInTheBody(benchmark::State& state) {
    give_up_on(state, "/stall");
}
BENCHMARK(BM_GiveUpOnSilentServerInTheBody)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
}  // namespace notepics

BENCHMARK_MAIN();
