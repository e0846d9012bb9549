// Starting and stopping the loopback server from a Windows test program
// running under wine: the server is the host's python3, started as a host
// program (host_program_win32.h) with its output going to a file; the end
// of its input stops the server. Paths go to it as host paths.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h:
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "host_program_win32.h"
#include "loopback_server.h"

namespace notepics::testing {

namespace fs = std::filesystem;

std::string LoopbackServer::make_scratch_directory() {
    static std::atomic<unsigned> counter{0};
    const fs::path directory = fs::temp_directory_path() /
                               ("notepics-loopback-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(++counter) + "-" + std::to_string(GetTickCount64()));
    return CreateDirectoryW(directory.c_str(), nullptr) ? directory.string() : std::string();
}

std::string LoopbackServer::server_path(const fs::path& path) {
    return host::unix_file_name(path);
}

std::string LoopbackServer::start(std::vector<std::string> args) {
    args.insert(args.begin(), NOTEPICS_HOST_PYTHON);
    const fs::path ports_file = fs::path(directory_) / "ports.txt";
    if (!host::start_host_program(directory_, ports_file, args, &error_)) {
        return {};
    }
    started_ = true;

    std::string line;
    for (int waited = 0; waited < 30000 && line.find('\n') == std::string::npos; waited += 20) {
        Sleep(20);
        std::ifstream in(ports_file, std::ios::binary);
        line.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return line;
}

void LoopbackServer::stop() {
    if (started_) {
        host::stop_host_program(directory_);
        started_ = false;
    }
}

int free_port() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET socket_handle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    bind(socket_handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(socket_handle, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(socket_handle);
    WSACleanup();
    return ntohs(address.sin_port);
}

}  // namespace notepics::testing
