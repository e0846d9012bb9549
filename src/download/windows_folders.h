// Windows only: where a run of the program saves its pictures, the rule the
// Linux program applies through its toolkit (app/program_folder.h), here on
// the system's own calls. A copy whose folder the user can write to (a
// portable copy) saves beside itself; any other copy in <Pictures>\notepics,
// <Pictures> being the user's known folder FOLDERID_Pictures.
//
//   const PictureFolder folder = choose_picture_folder(run_directory());
//   // folder.path: where to save; folder.caption_name: "" or the folder (GBK)
#pragma once

#include <filesystem>

#include "download/workflow.h"

namespace notepics {

// Whether the user running the program can create a file in `folder`: it
// creates a new scratch file there (CREATE_NEW) that is deleted on close.
bool can_create_file_in(const std::filesystem::path& folder);

// The user's Pictures folder (FOLDERID_Pictures); empty when the system
// names none.
std::filesystem::path user_pictures_folder();

// The picture folder of one run with the program in `program_folder`:
// `program_folder` itself, unnamed, when a file can be created there; else
// <Pictures>\notepics, created when missing, named by its full path in GBK
// (characters GBK lacks become "?"); `program_folder`, unnamed, when there
// is no Pictures folder either.
PictureFolder choose_picture_folder(const std::filesystem::path& program_folder);

}  // namespace notepics
