// Where pictures are saved, and how: beside the program, under a name made
// of the picture's identifier, written so that nobody ever sees half a file.
//
//   std::optional<std::filesystem::path> path = picture_file_path(run_directory(), "abc");
//   // path == "<folder of the program>/abc.jpg"
//   if (path && write_bytes_to_file(*path, bytes)) { /* saved */ }
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "text/text.h"

namespace notepics {

// The folder that holds the running program's file, as an absolute path
// (from /proc/self/exe on Linux, GetModuleFileNameW on Windows); the empty
// path when it cannot be read.
std::filesystem::path run_directory();

// `folder`/<identifier>.jpg, the identifier's GBK bytes turned into the
// UTF-8 file name. No path when the identifier could name anything but a
// file in `folder`: it holds "/", "\" or a zero byte, or is "." or "..";
// none either when `folder` is empty, nor for the empty identifier, which
// names no picture.
//   picture_file_path("/p", "\xD6\xD0") == "/p/中.jpg"
//   picture_file_path("/p", "../x") == std::nullopt
std::optional<std::filesystem::path> picture_file_path(const std::filesystem::path& folder,
                                                       std::string_view identifier);

// Writes `bytes` (possibly none) as the file `path`, replacing a file of
// that name. The bytes go to a new file in the same folder first, which is
// then renamed over `path`, so every reader sees at `path` either the old
// file or the whole new one, also after the program crashed. False when
// anything fails; the new file is then removed and an old file at `path`
// is left as it was. (No fsync: like any download tool, a power cut may
// lose the latest pictures.)
bool write_bytes_to_file(const std::filesystem::path& path, const ByteBuffer& bytes);

}  // namespace notepics
