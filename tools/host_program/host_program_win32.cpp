#include "host_program_win32.h"

#include <windows.h>

#include <utility>

namespace notepics::host {

namespace fs = std::filesystem;

namespace {

using UnixFileName = char*(__cdecl*)(const wchar_t*);
using DosFileName = wchar_t*(__cdecl*)(const char*);

template <typename Function>
Function wine_function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
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

std::string unix_file_name(const fs::path& path) {
    const auto convert = wine_function<UnixFileName>("wine_get_unix_file_name");
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

fs::path dos_file_name(const std::string& path) {
    const auto convert = wine_function<DosFileName>("wine_get_dos_file_name");
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

bool start_host_program(const fs::path& folder, const fs::path& output,
                        const std::vector<std::string>& command, std::string* error) {
    auto fail = [error](std::string why) {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return false;
    };
    const fs::path shell = dos_file_name("/bin/sh");
    const std::string host_folder = unix_file_name(folder);
    if (shell.empty() || host_folder.empty()) {
        return fail("a host program can be started under wine only");
    }
    static constexpr const char* kFeeder =
        "dir=$1; shift; i=0; "
        "while [ -d \"$dir\" ] && [ ! -e \"$dir/stop\" ] && [ $i -lt 6000 ]; "
        "do sleep 0.1; i=$((i+1)); done | exec \"$@\"";
    std::wstring command_line =
        quoted("/bin/sh") + L" -c " + quoted(kFeeder) + L" sh " + quoted(host_folder);
    for (const std::string& arg : command) {
        command_line += L" " + quoted(arg);
    }

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output_file =
        CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output_file == INVALID_HANDLE_VALUE) {
        return fail("cannot create the output file of the host program");
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output_file;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL created = CreateProcessW(shell.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
    CloseHandle(output_file);
    if (!created) {
        return fail("cannot start " + (command.empty() ? std::string() : command.front()));
    }
    // A host program has no Windows process to wait for.
    if (process.hThread != nullptr) {
        CloseHandle(process.hThread);
    }
    if (process.hProcess != nullptr) {
        CloseHandle(process.hProcess);
    }
    return true;
}

void stop_host_program(const fs::path& folder) {
    const fs::path stop_file = folder / "stop";
    const HANDLE file = CreateFileW(stop_file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

}  // namespace notepics::host
