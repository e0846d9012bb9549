// Debian's nginx and squid, started by a test on free 127.0.0.1 ports with a
// scratch folder for their configuration, logs and certificate, and stopped
// when the object goes away. They run in the foreground as children of the
// test, also when the test runs as root.
//
//   NginxServer nginx(NginxServer::Config{.locations = "location /a { return 200 'ok'; }"});
//   if (!nginx.running()) GTEST_SKIP() << nginx.error();
//   fetch(nginx.http_url("/a"));        // also nginx.other_http_url(), nginx.https_url()
//   std::string log = nginx.access_log();
//
//   SquidProxy squid("pu", "pw");       // Basic auth with that user and password
//   use_proxy(squid.address());         // "127.0.0.1:<port>"
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

#include "loopback_server.h"

namespace notepics::testing {

// A child process with a scratch folder; the base of both servers.
class ScratchProcess {
  public:
    ScratchProcess();
    ~ScratchProcess();
    ScratchProcess(const ScratchProcess&) = delete;
    ScratchProcess& operator=(const ScratchProcess&) = delete;

    bool running() const { return pid_ > 0 && error_.empty(); }
    const std::string& error() const { return error_; }

  protected:
    // Starts `argv` with its output going to the folder's "output" file and
    // waits until each of `ports` accepts connections.
    void start(const std::vector<std::string>& argv, const std::vector<int>& ports);
    void fail(std::string message);
    void stop();
    const std::string& folder() const { return folder_; }
    std::string read(std::string_view name) const;
    void write(std::string_view name, std::string_view text) const;

  private:
    pid_t pid_ = -1;
    std::string folder_;
    std::string error_;
};

// nginx with two plain listeners (two origins) and one TLS listener with a
// self-signed certificate, all serving the same locations. Each request is
// logged as "<port> <method> <uri> auth=[<Authorization>] cookie=[<Cookie>]
// length=[<Content-Length>]", one line each.
class NginxServer : public ScratchProcess {
  public:
    struct Config {
        // Location blocks; "{http_port}", "{other_http_port}" and
        // "{https_port}" stand for the listeners' ports.
        std::string locations;
    };
    explicit NginxServer(const Config& config);
    ~NginxServer();

    std::string http_url(std::string_view target) const;
    std::string other_http_url(std::string_view target) const;
    std::string https_url(std::string_view target) const;
    int http_port() const { return http_port_; }
    int other_http_port() const { return other_http_port_; }
    std::string access_log() const;

  private:
    int http_port_ = 0;
    int other_http_port_ = 0;
    int https_port_ = 0;
};

// squid as a forward proxy that demands Basic credentials, reaching
// 127.0.0.1 only, caching nothing.
class SquidProxy : public ScratchProcess {
  public:
    SquidProxy(std::string_view user_name, std::string_view password);
    ~SquidProxy();

    // "127.0.0.1:<port>"
    std::string address() const;

  private:
    int port_ = 0;
};

}  // namespace notepics::testing
