// Starting and stopping the loopback server from a Windows test program
// running under wine: the server is the host's python3, started through
// wine's support for host programs (CreateProcessW on a program that is no
// Windows one), with its output going to a file. Wine hands a host program
// no pipe and no process handle, so a host shell feeds the server's input
// until a stop file appears or the scratch directory goes (at the latest
// after ten minutes); the end of its input stops the server. Paths go to it
// as host paths (wine_get_unix_file_name).
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h:
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "loopback_server.h"

namespace notepics::testing {

namespace fs = std::filesystem;

namespace {

using UnixFileName = char*(__cdecl*)(const wchar_t*);
using DosFileName = wchar_t*(__cdecl*)(const char*);

// The host path of a Windows path, or the empty string outside wine.
std::string unix_file_name(const fs::path& path) {
    const auto convert = reinterpret_cast<UnixFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (convert == nullptr) {
        return {};
    }
    char* name = convert(path.c_str());
    if (name == nullptr) {
        return {};
    }
    std::string result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// The Windows path of a host path, or the empty path outside wine.
fs::path dos_file_name(const std::string& path) {
    const auto convert = reinterpret_cast<DosFileName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (convert == nullptr) {
        return {};
    }
    wchar_t* name = convert(path.c_str());
    if (name == nullptr) {
        return {};
    }
    fs::path result(name);
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// One argument of a command line, quoted as the C runtime reads it back.
std::wstring quoted(const std::string& arg) {
    std::wstring wide(arg.begin(), arg.end());  // the arguments are ASCII
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : wide) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

}  // namespace

std::string LoopbackServer::make_scratch_directory() {
    static std::atomic<unsigned> counter{0};
    const fs::path directory = fs::temp_directory_path() /
                               ("notepics-loopback-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(++counter) + "-" + std::to_string(GetTickCount64()));
    return CreateDirectoryW(directory.c_str(), nullptr) ? directory.string() : std::string();
}

std::string LoopbackServer::server_path(const fs::path& path) {
    return unix_file_name(path);
}

std::string LoopbackServer::start(std::vector<std::string> args) {
    const fs::path shell = dos_file_name("/bin/sh");
    const std::string directory = server_path(directory_);
    if (shell.empty() || directory.empty()) {
        error_ = "the loopback server runs on the host of wine only";
        return {};
    }
    static constexpr const char* kFeeder =
        "dir=$1; shift; i=0; "
        "while [ -d \"$dir\" ] && [ ! -e \"$dir/stop\" ] && [ $i -lt 6000 ]; "
        "do sleep 0.1; i=$((i+1)); done | exec \"$@\"";
    std::wstring command_line = quoted("/bin/sh") + L" -c " + quoted(kFeeder) + L" sh " +
                                quoted(directory) + L" " + quoted(NOTEPICS_HOST_PYTHON);
    for (const std::string& arg : args) {
        command_line += L" " + quoted(arg);
    }

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const fs::path ports_file = fs::path(directory_) / "ports.txt";
    HANDLE output =
        CreateFileW(ports_file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        error_ = "cannot create the server's output file";
        return {};
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(shell.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
    CloseHandle(output);
    if (!created) {
        error_ = "cannot start " + std::string(NOTEPICS_HOST_PYTHON);
        return {};
    }
    // A host program has no Windows process to wait for.
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
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
        const fs::path stop_file = fs::path(directory_) / "stop";
        const HANDLE file = CreateFileW(stop_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
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
