#include "real_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace notepics::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kStartLimit = std::chrono::seconds(15);
constexpr auto kStopLimit = std::chrono::seconds(5);

bool accepts_connections(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// Runs a command and gives back what it printed; empty when it failed.
std::string command_output(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    return pclose(pipe) == 0 ? output : std::string();
}

bool found_program(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

}  // namespace

ScratchProcess::ScratchProcess() {
    std::string pattern = (fs::temp_directory_path() / "notepics-server-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        error_ = "cannot create a scratch folder";
        return;
    }
    folder_ = pattern;
    // A server that drops root privileges still writes its logs here.
    chmod(folder_.c_str(), 0777);
}

ScratchProcess::~ScratchProcess() {
    stop();
    if (!folder_.empty()) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
}

void ScratchProcess::fail(std::string message) {
    if (error_.empty()) {
        error_ = std::move(message);
    }
}

void ScratchProcess::start(const std::vector<std::string>& argv, const std::vector<int>& ports) {
    if (!error_.empty()) {
        return;
    }
    const std::string output = folder_ + "/output";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> args = argv;
    std::vector<char*> raw;
    for (std::string& arg : args) {
        raw.push_back(arg.data());
    }
    raw.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, raw[0], &actions, nullptr, raw.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        fail("cannot start " + argv[0]);
        return;
    }
    const Clock::time_point give_up = Clock::now() + kStartLimit;
    for (const int port : ports) {
        while (!accepts_connections(port)) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                fail(argv[0] + " ended at start: " + read("output"));
                return;
            }
            if (Clock::now() > give_up) {
                fail(argv[0] + " did not listen in time: " + read("output"));
                stop();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

void ScratchProcess::stop() {
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    const Clock::time_point give_up = Clock::now() + kStopLimit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() > give_up) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
}

std::string ScratchProcess::read(std::string_view name) const {
    std::ifstream in(fs::path(folder_) / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ScratchProcess::write(std::string_view name, std::string_view text) const {
    std::ofstream out(fs::path(folder_) / name, std::ios::binary);
    out << text;
    out.close();
    chmod((fs::path(folder_) / name).c_str(), 0644);
}

NginxServer::NginxServer(const Config& config) {
    const std::string program = "/usr/sbin/nginx";
    if (!found_program(program)) {
        fail("nginx is not installed (scripts/setup installs it)");
        return;
    }
    const std::string dir = folder();
    if (command_output("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                       "-nodes -days 2 -subj /CN=notepics.test -keyout " +
                       dir + "/key.pem -out " + dir + "/cert.pem 2>&1 && echo made")
            .empty()) {
        fail("openssl could not make a certificate");
        return;
    }
    http_port_ = free_port();
    other_http_port_ = free_port();
    https_port_ = free_port();
    std::string locations = config.locations;
    replace_all(locations, "{http_port}", std::to_string(http_port_));
    replace_all(locations, "{other_http_port}", std::to_string(other_http_port_));
    replace_all(locations, "{https_port}", std::to_string(https_port_));
    std::string conf =
        "daemon off;\n"
        "master_process off;\n"
        "pid DIR/nginx.pid;\n"
        "error_log DIR/error.log;\n"
        "events { worker_connections 64; }\n"
        "http {\n"
        "  log_format probe '$server_port $request_method $request_uri "
        "auth=[$http_authorization] cookie=[$http_cookie] length=[$http_content_length]';\n"
        "  access_log DIR/access.log probe;\n"
        "  client_body_temp_path DIR/body; proxy_temp_path DIR/proxy;\n"
        "  fastcgi_temp_path DIR/fastcgi; uwsgi_temp_path DIR/uwsgi; scgi_temp_path DIR/scgi;\n"
        "  default_type text/plain;\n"
        "  server { listen 127.0.0.1:HTTP; LOCATIONS }\n"
        "  server { listen 127.0.0.1:OTHER; LOCATIONS }\n"
        "  server { listen 127.0.0.1:HTTPS ssl; ssl_certificate DIR/cert.pem;\n"
        "           ssl_certificate_key DIR/key.pem; LOCATIONS }\n"
        "}\n";
    replace_all(conf, "OTHER", std::to_string(other_http_port_));
    replace_all(conf, "HTTPS", std::to_string(https_port_));
    replace_all(conf, "HTTP", std::to_string(http_port_));
    replace_all(conf, "DIR", dir);
    replace_all(conf, "LOCATIONS", locations);
    write("nginx.conf", conf);
    start({program, "-e", dir + "/error.log", "-p", dir, "-c", dir + "/nginx.conf"},
          {http_port_, other_http_port_, https_port_});
}

NginxServer::~NginxServer() {
    stop();
}

std::string NginxServer::http_url(std::string_view target) const {
    return "http://127.0.0.1:" + std::to_string(http_port_) + std::string(target);
}

std::string NginxServer::other_http_url(std::string_view target) const {
    return "http://127.0.0.1:" + std::to_string(other_http_port_) + std::string(target);
}

std::string NginxServer::https_url(std::string_view target) const {
    return "https://127.0.0.1:" + std::to_string(https_port_) + std::string(target);
}

std::string NginxServer::access_log() const {
    return read("access.log");
}

SquidProxy::SquidProxy(std::string_view user_name, std::string_view password) {
    const std::string program = "/usr/sbin/squid";
    const std::string helper = "/usr/lib/squid/basic_ncsa_auth";
    if (!found_program(program) || !found_program(helper)) {
        fail("squid is not installed (scripts/setup installs it)");
        return;
    }
    std::string hash =
        command_output("openssl passwd -1 -salt notepics '" + std::string(password) + "'");
    while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) {
        hash.pop_back();
    }
    if (hash.empty()) {
        fail("openssl could not hash the password");
        return;
    }
    write("passwd", std::string(user_name) + ":" + hash + "\n");
    port_ = free_port();
    std::string conf =
        "http_port 127.0.0.1:PORT\n"
        "visible_hostname notepics-test\n"
        "pid_filename DIR/squid.pid\n"
        "cache_log DIR/cache.log\n"
        "access_log stdio:DIR/access.log\n"
        "coredump_dir DIR\n"
        "netdb_filename none\n"
        "cache deny all\n"
        "cache_mem 8 MB\n"
        "shutdown_lifetime 0 seconds\n"
        "auth_param basic program HELPER DIR/passwd\n"
        "auth_param basic children 1 startup=1 idle=1\n"
        "auth_param basic realm notepics\n"
        "acl loopback dst 127.0.0.1\n"
        "acl authenticated proxy_auth REQUIRED\n"
        "http_access deny !loopback\n"
        "http_access allow authenticated\n"
        "http_access deny all\n";
    replace_all(conf, "DIR", folder());
    replace_all(conf, "PORT", std::to_string(port_));
    replace_all(conf, "HELPER", helper);
    write("squid.conf", conf);
    start({program, "-N", "-f", folder() + "/squid.conf"}, {port_});
}

SquidProxy::~SquidProxy() {
    stop();
}

std::string SquidProxy::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

}  // namespace notepics::testing
