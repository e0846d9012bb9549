#include "loopback_server.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace notepics::testing {

namespace fs = std::filesystem;

namespace {

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
    return (fs::path(__FILE__).parent_path() / "loopback_http_server.py").generic_string();
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
    directory_ = make_scratch_directory();
    if (directory_.empty()) {
        error_ = "cannot create a temporary directory";
        return;
    }
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

    // Paths as the server, a program of the host system, names them.
    std::vector<std::string> args = {
        server_script(),      "--routes",   server_path(routes_file), "--record-dir",
        server_path(records), "--work-dir", server_path(directory_)};
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

    // The first line of the server's output names the ports.
    const std::string line = start(args);
    if (!error_.empty()) {
        return;
    }
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

}  // namespace notepics::testing
