// The folder that holds the running program's file, which the program works
// in: pictures are saved there.
//
//   QApplication app(argc, argv);
//   enter_program_folder();  // now relative paths name files beside the program
#pragma once

namespace notepics {

// Makes the folder of the running executable the current directory. Needs
// the application object. False when the folder is unknown or cannot be
// entered; the current directory is then unchanged.
bool enter_program_folder();

}  // namespace notepics
