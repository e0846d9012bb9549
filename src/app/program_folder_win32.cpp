#include "app/program_folder_win32.h"

#include <windows.h>

#include <filesystem>

#include "download/picture_files.h"
#include "download/windows_folders.h"

namespace notepics {

bool enter_program_folder() {
    const std::filesystem::path folder = run_directory();
    return !folder.empty() && SetCurrentDirectoryW(folder.c_str()) != 0;
}

WorkflowSettings program_workflow_settings() {
    WorkflowSettings settings;
    settings.choose_picture_folder = [] { return choose_picture_folder(run_directory()); };
    return settings;
}

}  // namespace notepics
