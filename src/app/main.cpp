// Start-up: the toolkit's own texts switch to Chinese, the folder of the
// program becomes the current directory, the window shows with an empty box,
// and the event loop runs until the window is closed. Nothing is fetched
// until the box changes.
#include <QApplication>
#include <QGuiApplication>
#include <QIcon>

#include <memory>

#include "app/main_window.h"
#include "app/program_folder.h"
#include "app/qt_translation.h"
#include "download/note_window.h"
#include "download/workflow.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("notepics"));
    QGuiApplication::setDesktopFileName(QStringLiteral("notepics"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("notepics")));
    const std::unique_ptr<QTranslator> chinese = notepics::install_qt_chinese_translation();
    notepics::enter_program_folder();

    // Every change of the link box runs the download workflow; each run
    // chooses its picture folder.
    const notepics::WorkflowSettings settings = notepics::program_workflow_settings();
    notepics::MainWindow window([settings](notepics::NoteWindow& changed) {
        notepics::on_link_changed(changed, settings);
    });
    window.show();
    return QApplication::exec();
}
