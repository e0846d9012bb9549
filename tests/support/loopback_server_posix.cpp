// Starting and stopping the loopback server on POSIX systems: python3 as a
// child process with a pipe each way.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "loopback_server.h"

extern char** environ;

namespace notepics::testing {

namespace fs = std::filesystem;

std::string LoopbackServer::make_scratch_directory() {
    std::string pattern = (fs::temp_directory_path() / "notepics-loopback-XXXXXX").string();
    return mkdtemp(pattern.data()) == nullptr ? std::string() : pattern;
}

std::string LoopbackServer::server_path(const fs::path& path) {
    return path.string();
}

std::string LoopbackServer::start(std::vector<std::string> args) {
    args.insert(args.begin(), "python3");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    // The child reads the ports line out through one pipe and waits for the
    // end of the other: closing it, or this process ending, stops the child.
    int out_pipe[2];
    int in_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        error_ = "cannot create a pipe";
        return {};
    }
    if (pipe2(in_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        error_ = "cannot create a pipe";
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
    const int spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(in_pipe[0]);
    stdin_fd_ = in_pipe[1];
    if (spawned != 0) {
        pid_ = -1;
        close(out_pipe[0]);
        error_ = "cannot start python3";
        return {};
    }
    started_ = true;

    std::string line;
    pollfd poll_fd{out_pipe[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos) {
        if (poll(&poll_fd, 1, 30000) <= 0) {
            break;
        }
        char buffer[256];
        const ssize_t got = read(out_pipe[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        line.append(buffer, static_cast<std::size_t>(got));
    }
    close(out_pipe[0]);
    return line;
}

void LoopbackServer::stop() {
    if (stdin_fd_ >= 0) {
        close(stdin_fd_);
        stdin_fd_ = -1;
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    started_ = false;
}

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

}  // namespace notepics::testing
