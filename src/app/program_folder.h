// The folder that holds the running program's file, and the folder each run
// saves its pictures in.
//
// A copy the user can write beside (a build folder, a portable copy) saves
// its pictures there. An installed copy, whose folder the user cannot write
// to, saves them in <Pictures>/notepics instead, and the end caption names
// that folder. The choice is made anew by every run:
//
//   QApplication app(argc, argv);
//   enter_program_folder();  // now relative paths name files beside the program
//   const WorkflowSettings settings = program_workflow_settings();
//   MainWindow window([settings](NoteWindow& w) { on_link_changed(w, settings); });
#pragma once

#include <QString>

#include "download/workflow.h"

namespace notepics {

// Makes the folder of the running executable the current directory. Needs
// the application object. False when the folder is unknown or cannot be
// entered; the current directory is then unchanged.
bool enter_program_folder();

// Whether the user running the program can create a file in `folder`: it
// tries, with a scratch file it removes again. Permissions, read-only file
// systems and access control lists all count; root is not special.
bool can_create_file_in(const QString& folder);

// `path` with the home folder written as "~": "/home/ann/Pictures" ->
// "~/Pictures"; a path outside `home` comes back unchanged.
QString home_as_tilde(const QString& path, const QString& home);

// The picture folder of one run with the program in `program_folder`:
// - `program_folder` itself, unnamed, when the user can create a file there;
// - else <Pictures>/notepics (<Pictures> being the user's pictures folder,
//   $HOME/Pictures unless the user's folder settings say otherwise),
//   created when missing, named with the home folder as "~" (GBK).
// Needs the application object.
PictureFolder choose_picture_folder(const QString& program_folder);

// The same for the folder of the running executable.
PictureFolder choose_picture_folder();

// The workflow settings of the program: its own service origins, and the
// picture folder chosen by every run.
WorkflowSettings program_workflow_settings();

}  // namespace notepics
