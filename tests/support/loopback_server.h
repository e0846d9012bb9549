// Runs tests/support/loopback_http_server.py as a child process: scripted
// HTTP (and optionally HTTPS and a forwarding proxy) on 127.0.0.1 with
// ephemeral ports, recording every raw request it receives.
//
//   LoopbackServer server({{"/page", LoopbackRoute::reply("200 OK", {}, "hello")}});
//   ASSERT_TRUE(server.running()) << server.error();
//   fetch(server.http_url("/page"));
//   std::vector<RecordedRequest> seen = server.requests();  // in arrival order
//
// In a route's bytes "{http_port}", "{https_port}" and "{proxy_port}" stand
// for the listeners' ports. The server stops when the object is destroyed.
#pragma once

#if !defined(_WIN32)
#include <sys/types.h>
#endif

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace notepics::testing {

struct LoopbackRoute {
    std::string target;  // path and query as sent, or "*" for every other one
    std::string json;    // the route's JSON object

    // Sends `raw` byte for byte, then "close", "reset" (TCP reset) or "hang"
    // (keeps the connection open without another byte).
    static LoopbackRoute raw(std::string target, std::string_view raw,
                             std::string_view after = "close");
    // A response with Content-Length and Connection: close added.
    static LoopbackRoute reply(std::string target, std::string_view status,
                               const std::vector<std::string>& headers, std::string_view body);
};

struct LoopbackOptions {
    bool https = false;
    bool proxy = false;
    std::string proxy_auth;  // "user:password" the proxy demands; empty: none
    int proxy_port = 0;      // the proxy's port; 0: an ephemeral one
};

struct RecordedRequest {
    std::string listener;  // "http", "https" or "proxy"
    std::string raw;       // request head and body as received
};

class LoopbackServer {
  public:
    explicit LoopbackServer(const std::vector<LoopbackRoute>& routes, LoopbackOptions options = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool running() const { return started_ && http_port_ > 0; }
    const std::string& error() const { return error_; }

    int http_port() const { return http_port_; }
    int https_port() const { return https_port_; }
    int proxy_port() const { return proxy_port_; }
    std::string http_url(std::string_view target) const;
    std::string https_url(std::string_view target) const;
    // "127.0.0.1:<proxy port>"
    std::string proxy_address() const;

    // Every request received so far, oldest first.
    std::vector<RecordedRequest> requests() const;

  private:
    // What each platform does (loopback_server_posix.cpp,
    // loopback_server_win32.cpp): a new scratch directory; a path as the
    // server names it; starting the server with `args` after the
    // interpreter, which gives the first line of its output (or sets
    // error_); stopping it.
    static std::string make_scratch_directory();
    static std::string server_path(const std::filesystem::path& path);
    std::string start(std::vector<std::string> args);
    void stop();

    bool started_ = false;
#if !defined(_WIN32)
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
#endif
    int http_port_ = 0;
    int https_port_ = 0;
    int proxy_port_ = 0;
    std::string directory_;
    std::string error_;
};

// A port on 127.0.0.1 that was free a moment ago (just given up by a
// socket): nobody listens there unless someone took it since.
int free_port();

// The request head (up to and including the empty line) and the body.
std::string request_head(const std::string& raw);
std::string request_body(const std::string& raw);

}  // namespace notepics::testing
