// The program's only window: the label "链  接：" and the link box, with the
// caption as the program's status line.
//
// Every change of the box's text (each edit of the user, each
// set_link_text) calls the link-changed handler synchronously. The window
// must outlive the application's event loop: closing it only hides it, and
// from then on the NoteWindow calls of a run still under way leave it alone.
//
//   QApplication app(argc, argv);
//   MainWindow window([](NoteWindow& w) { w.set_caption(w.link_text()); });
//   window.show();
//   return app.exec();
#pragma once

#include <QWidget>

#include <string_view>

#include "app/window_layout.h"
#include "download/note_window.h"
#include "text/text.h"

class QLabel;
class QPlainTextEdit;
class QPoint;
class QRect;
class QSize;

namespace notepics {

class LinkBox;

// Top-left corner that centres a window of `outer` size in `area`.
QPoint centred_position(const QRect& area, const QSize& outer);

class MainWindow final : public QWidget, public NoteWindow {
    Q_OBJECT

  public:
    // An empty handler ignores every change.
    explicit MainWindow(LinkChangedHandler on_link_changed = {});
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Replaces the handler; a run already under way is not affected.
    void set_link_changed_handler(LinkChangedHandler on_link_changed);

    // True from the closing of the window (by the user or close()) until it
    // is shown again.
    bool is_closed() const { return closed_; }

    QLabel* link_label() const { return link_label_; }
    QPlainTextEdit* link_box() const;

    Text link_text() override;
    void set_link_text(std::string_view text) override;
    void set_caption(std::string_view text) override;
    void show_message(std::string_view text) override;
    void process_pending_messages() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void on_box_changed();
    void raise_link_changed();
    void fit_outer_size_to_frame();

    LinkChangedHandler on_link_changed_;
    QLabel* link_label_ = nullptr;
    LinkBox* link_box_ = nullptr;
    bool writing_box_ = false;
    bool closed_ = false;
    bool frame_fitted_ = false;
};

}  // namespace notepics
