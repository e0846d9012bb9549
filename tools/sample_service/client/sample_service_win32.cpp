// The sample service from a Windows test program under wine: the host's
// python3 runs sample_service.py natively on 127.0.0.1, started as a host
// program (host_program_win32.h). Its start-up lines come through a file in
// the record folder, its request records through that folder, and the end
// of its input (--until-end-of-input) stops it. File arguments go to it as
// host paths.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h:
#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <sstream>

#include "host_program_win32.h"
#include "sample_service.h"

namespace notepics::sample {
namespace {

// How long the service may take to start (Python, and a certificate with
// --tls).
constexpr int kStartTimeoutMs = 60'000;

// The options whose value is a file or folder, in full or after "ID=".
bool takes_path(std::string_view option) {
    return option == "--pictures" || option == "--picture" || option == "--page";
}

// The argument `value` of a path option with its file name as a host path:
// "C:\\x\\a" -> "/tmp/x/a", "id=C:\\x\\a" -> "id=/tmp/x/a".
std::string host_path_argument(std::string_view option, const std::string& value) {
    const std::size_t equals = option == "--pictures" ? std::string::npos : value.find('=');
    const std::size_t start = equals == std::string::npos ? 0 : equals + 1;
    const std::string host = host::unix_file_name(std::filesystem::path(value.substr(start)));
    return host.empty() ? value : value.substr(0, start) + host;
}

}  // namespace

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path(error) /
        ("notepics-test-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter) + "-" + std::to_string(GetTickCount64()));
    if (!error && CreateDirectoryW(folder.c_str(), nullptr)) {
        path_ = folder;
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
    const std::string records = host::unix_file_name(service->records_.path());
    if (records.empty()) {
        return fail("no scratch folder for the records, or not under wine");
    }
    std::vector<std::string> command = {NOTEPICS_PYTHON, NOTEPICS_SAMPLE_SERVICE_SCRIPT,
                                        "--until-end-of-input", "--record", records};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const bool is_path = i > 0 && takes_path(arguments[i - 1]);
        command.push_back(is_path ? host_path_argument(arguments[i - 1], arguments[i])
                                  : arguments[i]);
    }
    // Not a request record (those end in ".http").
    const std::filesystem::path output = service->records_.path() / "service-output.txt";
    std::string why;
    if (!host::start_host_program(service->records_.path(), output, command, &why)) {
        return fail(why);
    }
    service->pid_ = 0;

    std::size_t taken = 0;
    for (int waited = 0; waited < kStartTimeoutMs; waited += 20) {
        std::ifstream in(output, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>()};
        std::size_t end;
        while ((end = text.find('\n', taken)) != std::string::npos) {
            const std::string line = text.substr(taken, end - taken);
            taken = end + 1;
            if (service->take_start_line(line)) {
                if (service->web_origin_.empty() || service->picture_origin_.empty()) {
                    return fail("the sample service did not start");
                }
                return service;
            }
        }
        Sleep(20);
    }
    return fail("the sample service did not start");
}

SampleService::~SampleService() {
    if (pid_ >= 0) {
        host::stop_host_program(records_.path());
    }
}

bool runs_under_wine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string unreachable_origin() {
    int port = 9;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) == 0) {
        const SOCKET socket_handle = socket(AF_INET, SOCK_STREAM, 0);
        if (socket_handle != INVALID_SOCKET) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            int length = sizeof address;
            if (bind(socket_handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                getsockname(socket_handle, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
                port = ntohs(address.sin_port);
            }
            closesocket(socket_handle);
        }
        WSACleanup();
    }
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

}  // namespace notepics::sample
