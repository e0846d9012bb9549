// Start-up on Windows: OLE for the GUI thread, the folder of the program as
// the current directory, the window centred with an empty box, and the
// message loop until the window is closed (exit code 0). Nothing is fetched
// until the box changes.
#include <windows.h>

#include <ole2.h>

#include "app/main_window_win32.h"
#include "app/program_folder_win32.h"
#include "download/note_window.h"
#include "download/workflow.h"

namespace {

// OLE for the thread, for the scope.
class OleScope {
  public:
    OleScope() : initialised_(SUCCEEDED(OleInitialize(nullptr))) {}
    ~OleScope() {
        if (initialised_) {
            OleUninitialize();
        }
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;

  private:
    bool initialised_;
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const OleScope ole;
    notepics::enter_program_folder();

    // Every change of the link box runs the download workflow; each run
    // chooses its picture folder.
    const notepics::WorkflowSettings settings = notepics::program_workflow_settings();
    notepics::MainWindow window([settings](notepics::NoteWindow& changed) {
        notepics::on_link_changed(changed, settings);
    });
    if (window.handle() == nullptr) {
        return 1;
    }
    window.show();
    return notepics::run_message_loop();
}
