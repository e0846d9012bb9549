// Starting a program of wine's host (a Linux program such as python3) from a
// Windows program running under wine, and stopping it again. Wine hands a
// host program no pipe and no process handle, so the program's output goes
// to a file, and a host shell feeds its input until a stop file appears in
// a watched folder or the folder goes (at the latest after ten minutes); the
// end of its input is the program's signal to stop.
//
//   start_host_program(folder, folder / "out.txt",
//                      {"/usr/bin/python3", "server.py", "--dir", unix_file_name(folder)}, &error);
//   ...read folder / "out.txt"...
//   stop_host_program(folder);
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace notepics::host {

// The host path of a Windows path, or the empty string outside wine.
std::string unix_file_name(const std::filesystem::path& path);

// The Windows path of a host path, or the empty path outside wine.
std::filesystem::path dos_file_name(const std::string& path);

// Starts `command` (a host program and its arguments, as host paths) with
// its standard output going to the file `output`, and its input fed until
// the file `folder`/stop appears or `folder` goes. False when it could not
// be started, with the reason in `error`.
bool start_host_program(const std::filesystem::path& folder, const std::filesystem::path& output,
                        const std::vector<std::string>& command, std::string* error);

// Ends the input of the program started with this `folder`; it does not wait
// for the program to go.
void stop_host_program(const std::filesystem::path& folder);

}  // namespace notepics::host
