// Start-up: the folder of the program becomes the current directory, the
// window shows with an empty box, and the event loop runs until the window
// is closed. Nothing is fetched until the box changes.
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

#include "app/main_window.h"
#include "app/program_folder.h"
#include "download/note_window.h"

namespace {

// Every change of the link box ends here until the download workflow is
// bound in its place.
void ignore_link_change(notepics::NoteWindow& /*window*/) {}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("notepics"));
    QGuiApplication::setDesktopFileName(QStringLiteral("notepics"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("notepics")));
    notepics::enter_program_folder();

    notepics::MainWindow window(&ignore_link_change);
    window.show();
    return QApplication::exec();
}
