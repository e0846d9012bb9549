// Starts the project's sample service (sample_service.py) on 127.0.0.1, for
// tests and benchmarks, and reads back what it recorded: a child process on
// POSIX systems, a program of wine's host in a Windows program under wine.
//
//   ScratchFolder pictures;
//   write_file(pictures.path() / "a", "bytes of a");
//   std::unique_ptr<SampleService> service =
//       SampleService::start({"--note", "n1=a,b", "--pictures", pictures.path()});
//   service->web_origin();          // "http://127.0.0.1:41234/"
//   service->share_text("n1");      // UTF-8 share text with the short link
//   service->requests();            // every request head, in arrival order
//
// The service stops when the object is destroyed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace notepics::sample {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object is destroyed.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Writes `bytes` as the file `path`; false on failure.
bool write_file(const std::filesystem::path& path, std::string_view bytes);

// The whole file as bytes; empty when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// One request head as the service received it.
struct RecordedRequest {
    std::string server;  // "web" or "picture"
    std::string head;    // request line and header lines, each with its "\r\n", then "\r\n"

    // The request target of the request line: "/s/n1".
    std::string target() const;
};

class SampleService {
  public:
    // Starts the service with these command-line arguments (see
    // sample_service.py) plus a record folder of its own, and waits until it
    // is ready. Null when it could not be started; `error` then says why.
    static std::unique_ptr<SampleService> start(const std::vector<std::string>& arguments,
                                                std::string* error = nullptr);

    ~SampleService();
    SampleService(const SampleService&) = delete;
    SampleService& operator=(const SampleService&) = delete;

    const std::string& web_origin() const { return web_origin_; }
    const std::string& picture_origin() const { return picture_origin_; }

    // The short link and the share text (UTF-8) of a note; empty for a note
    // the service does not serve.
    std::string short_link(const std::string& note) const;
    std::string share_text(const std::string& note) const;

    // Every request received so far, in the order they arrived.
    std::vector<RecordedRequest> requests() const;

    // The targets of those requests, for one server only.
    std::vector<std::string> targets(std::string_view server) const;

  private:
    SampleService() = default;

    // Takes one line the service printed at start-up (origins, short links,
    // share texts); true for its last line, "ready".
    bool take_start_line(const std::string& line);

    // The service's process (POSIX); under wine, 0 once the host program
    // was started.
    pid_t pid_ = -1;
    ScratchFolder records_;
    std::string web_origin_;
    std::string picture_origin_;
    std::map<std::string, std::string> short_links_;
    std::map<std::string, std::string> share_texts_;
};

// True in a Windows program running under wine rather than on Windows, for
// the few checks wine cannot show (its Schannel accepts any certificate).
bool runs_under_wine();

// An origin on 127.0.0.1 where nothing listens: a port that was free a
// moment ago.
std::string unreachable_origin();

}  // namespace notepics::sample
