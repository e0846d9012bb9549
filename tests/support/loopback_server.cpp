#include "loopback_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace notepics::testing {
namespace {

namespace fs = std::filesystem;

std::string base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            group <<= 8;
            if (k < n) {
                group |= static_cast<unsigned char>(bytes[i + k]);
            }
        }
        for (std::size_t k = 0; k < 4; ++k) {
            out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return out;
}

// A JSON string of printable ASCII text.
std::string json_string(std::string_view text) {
    std::string out(1, '"');
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The number after "\"name\": " in a one-line JSON object, or 0.
int json_port(const std::string& line, std::string_view name) {
    std::string key(1, '"');
    key.append(name).append("\": ");
    const std::size_t at = line.find(key);
    return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + key.size());
}

std::string server_script() {
    return (fs::path(__FILE__).parent_path() / "loopback_http_server.py").string();
}

}  // namespace

LoopbackRoute LoopbackRoute::raw(std::string target, std::string_view raw, std::string_view after) {
    std::string json = "{\"raw\": ";
    json.append(json_string(base64(raw))).append(", \"after\": ");
    json.append(json_string(after)).append("}");
    return {std::move(target), std::move(json)};
}

LoopbackRoute LoopbackRoute::reply(std::string target, std::string_view status,
                                   const std::vector<std::string>& headers, std::string_view body) {
    std::string json = "{\"status\": ";
    json.append(json_string(status)).append(", \"headers\": [");
    for (std::size_t i = 0; i < headers.size(); ++i) {
        json.append(i > 0 ? ", " : "").append(json_string(headers[i]));
    }
    json.append("], \"body\": ").append(json_string(base64(body))).append("}");
    return {std::move(target), std::move(json)};
}

LoopbackServer::LoopbackServer(const std::vector<LoopbackRoute>& routes, LoopbackOptions options) {
    std::string pattern = (fs::temp_directory_path() / "notepics-loopback-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        error_ = "cannot create a temporary directory";
        return;
    }
    directory_ = pattern;
    const fs::path records = fs::path(directory_) / "requests";
    fs::create_directory(records);

    const fs::path routes_file = fs::path(directory_) / "routes.json";
    {
        std::ofstream out(routes_file, std::ios::binary);
        out << "{";
        for (std::size_t i = 0; i < routes.size(); ++i) {
            out << (i > 0 ? ",\n" : "\n") << json_string(routes[i].target) << ": "
                << routes[i].json;
        }
        out << "\n}\n";
    }

    std::vector<std::string> args = {
        "python3",      server_script(),  "--routes",   routes_file.string(),
        "--record-dir", records.string(), "--work-dir", directory_};
    if (options.https) {
        args.push_back("--https");
    }
    if (options.proxy) {
        args.push_back("--proxy");
        if (!options.proxy_auth.empty()) {
            args.push_back("--proxy-auth");
            args.push_back(options.proxy_auth);
        }
        if (options.proxy_port != 0) {
            args.push_back("--proxy-port");
            args.push_back(std::to_string(options.proxy_port));
        }
    }
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
        return;
    }
    if (pipe2(in_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        error_ = "cannot create a pipe";
        return;
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
        return;
    }

    // The first line of the child's output names the ports.
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
    http_port_ = json_port(line, "http");
    https_port_ = json_port(line, "https");
    proxy_port_ = json_port(line, "proxy");
    if (http_port_ == 0) {
        error_ = "the server did not start: " + line;
        stop();
    }
}

LoopbackServer::~LoopbackServer() {
    stop();
    if (!directory_.empty()) {
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }
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
}

std::string LoopbackServer::http_url(std::string_view target) const {
    return "http://127.0.0.1:" + std::to_string(http_port_) + std::string(target);
}

std::string LoopbackServer::https_url(std::string_view target) const {
    return "https://127.0.0.1:" + std::to_string(https_port_) + std::string(target);
}

std::string LoopbackServer::proxy_address() const {
    return "127.0.0.1:" + std::to_string(proxy_port_);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::vector<fs::path> files;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(fs::path(directory_) / "requests", ignored)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name[0] != '.') {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<RecordedRequest> requests;
    for (const fs::path& file : files) {
        const std::string stem = file.stem().string();
        requests.push_back({stem.substr(stem.find('-') + 1), read_file(file)});
    }
    return requests;
}

std::string request_head(const std::string& raw) {
    const std::size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? raw : raw.substr(0, end + 4);
}

std::string request_body(const std::string& raw) {
    const std::size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : raw.substr(end + 4);
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
