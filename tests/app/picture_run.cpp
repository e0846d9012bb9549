// A stand-in for the program in the tests of its picture folder: one run of
// the workflow with the program's own settings (the picture folder chosen by
// the run, from where this file lies), against the given service, on a
// window without a screen that prints what it is asked to show.
//
//   app_picture_run <web origin> <picture origin> <pasted text, UTF-8>
//
// Prints one line (UTF-8) per caption ("caption: 下载完成") and message
// ("message: ..."); exits with 0.
#include <QCoreApplication>
#include <QString>

#include <cstdio>
#include <string>
#include <string_view>

#include "app/program_folder.h"
#include "app/qt_text.h"
#include "download/note_window.h"
#include "download/workflow.h"

namespace {

class PrintingWindow final : public notepics::NoteWindow {
  public:
    explicit PrintingWindow(notepics::LinkChangedHandler handler) : handler_(std::move(handler)) {}

    notepics::Text link_text() override { return box_; }
    void set_link_text(std::string_view text) override {
        box_ = notepics::Text(text);
        handler_(*this);
    }
    void set_caption(std::string_view text) override { print("caption", text); }
    void show_message(std::string_view text) override { print("message", text); }
    void process_pending_messages() override {}

  private:
    static void print(const char* what, std::string_view gbk) {
        std::printf("%s: %s\n", what, notepics::to_qstring(gbk).toUtf8().constData());
    }

    notepics::LinkChangedHandler handler_;
    notepics::Text box_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <web origin> <picture origin> <pasted text>\n", argv[0]);
        return 2;
    }
    notepics::WorkflowSettings settings = notepics::program_workflow_settings();
    settings.web_origin = argv[1];
    settings.picture_origin = argv[2];
    PrintingWindow window(
        [&settings](notepics::NoteWindow& w) { notepics::on_link_changed(w, settings); });
    window.set_link_text(notepics::to_text(QString::fromUtf8(argv[3])));
    std::fflush(stdout);
    return 0;
}
