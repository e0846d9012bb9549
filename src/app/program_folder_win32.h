// Start-up's view of the program's folder on Windows: the folder of the
// running executable becomes the current directory, and every run chooses
// its picture folder by the rule of download/windows_folders.h (beside the
// program when the user can write there, else <Pictures>\notepics, named in
// the end caption).
//
//   enter_program_folder();  // now relative paths name files beside the program
//   const WorkflowSettings settings = program_workflow_settings();
//   MainWindow window([settings](NoteWindow& w) { on_link_changed(w, settings); });
#pragma once

#include "download/workflow.h"

namespace notepics {

// Makes the folder of the running executable the current directory. False
// when the folder is unknown or cannot be entered; the current directory is
// then unchanged.
bool enter_program_folder();

// The workflow settings of the program: its own service origins, and the
// picture folder chosen by every run for the folder of the executable.
WorkflowSettings program_workflow_settings();

}  // namespace notepics
