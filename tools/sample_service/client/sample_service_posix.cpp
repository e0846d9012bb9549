#include "sample_service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <utility>

namespace notepics::sample {
namespace {

// How long the service may take to start (Python, and a certificate with
// --tls).
constexpr int kStartTimeoutMs = 60'000;

class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// Reads whole lines from a pipe until `done` says stop, the pipe closes or
// time runs out. False unless `done` said stop.
template <typename Done>
bool read_lines(int fd, Done done) {
    std::string pending;
    char buffer[4096];
    while (true) {
        pollfd waiting{.fd = fd, .events = POLLIN, .revents = 0};
        const int ready = ::poll(&waiting, 1, kStartTimeoutMs);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (done(line)) {
                return true;
            }
        }
    }
}

}  // namespace

ScratchFolder::ScratchFolder() {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "notepics-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

std::unique_ptr<SampleService> SampleService::start(const std::vector<std::string>& arguments,
                                                    std::string* error) {
    auto fail = [error](std::string why) -> std::unique_ptr<SampleService> {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return nullptr;
    };
    std::unique_ptr<SampleService> service(new SampleService());
    if (service->records_.path().empty()) {
        return fail("no scratch folder for the records");
    }
    std::vector<std::string> command = {NOTEPICS_PYTHON, NOTEPICS_SAMPLE_SERVICE_SCRIPT, "--record",
                                        service->records_.path().string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : command) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return fail("pipe failed");
    }
    Descriptor read_end(ends[0]);
    Descriptor write_end(ends[1]);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        return fail("fork failed");
    }
    if (pid == 0) {
        // The child: only async-signal-safe calls until exec. It goes when
        // the test goes, even when the test crashes.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent || ::dup2(write_end.get(), STDOUT_FILENO) < 0) {
            ::_exit(127);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    service->pid_ = pid;
    ::close(write_end.release());

    const bool ready = read_lines(
        read_end.get(), [&](const std::string& line) { return service->take_start_line(line); });
    if (!ready || service->web_origin_.empty() || service->picture_origin_.empty()) {
        return fail("the sample service did not start");
    }
    return service;
}

SampleService::~SampleService() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool runs_under_wine() {
    return false;
}

std::string unreachable_origin() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return "http://127.0.0.1:9/";
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 9;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    std::string origin = "http://127.0.0.1:";
    origin += std::to_string(port);
    origin += "/";
    return origin;
}

}  // namespace notepics::sample
