// The program's only window on Windows: the label "链  接：" and the link box
// (a multi-line EDIT control), with the caption as the program's status line.
//
// Every text goes to and comes from the ANSI ("A") calls of the system as
// GBK bytes, as they are: the system code page of the program's users is
// 936. Every change of the box's text (each edit of the user, each
// set_link_text) calls the link-changed handler synchronously.
//
// Closing the window while no run is under way destroys it, and the
// destruction posts the quit request (code 0). Closed while a run is under
// way, the window hides at once and from then on the NoteWindow calls of the
// run leave it alone; it is destroyed from the message loop once the
// outermost run has returned, so no run ever finds it destroyed under it.
//
//   MainWindow window([](NoteWindow& w) { w.set_caption(w.link_text()); });
//   window.show();
//   return run_message_loop();  // 0 once the user has closed the window
#pragma once

#include <windows.h>

#include <string_view>

#include "app/window_layout.h"
#include "download/note_window.h"
#include "text/text.h"

namespace notepics {

// Top-left corner that centres a window of `width` x `height` in `area`.
POINT centred_position(const RECT& area, int width, int height);

// The box's text as the NoteWindow hands it out ("\r\n" read as "\n"), and
// the text the box is given for a NoteWindow text (every "\n" not already
// after "\r" becomes "\r\n"). Line-break bytes never occur inside a GBK
// character, so both work byte by byte.
//   text_from_box("a\r\nb") == "a\nb";  text_for_box("a\nb\r\nc") == "a\r\nb\r\nc"
Text text_from_box(std::string_view box_text);
Text text_for_box(std::string_view text);

// Owns one GDI font.
class FontHandle {
  public:
    FontHandle() = default;
    explicit FontHandle(HFONT font) : font_(font) {}
    ~FontHandle() { reset(); }
    FontHandle(FontHandle&& other) noexcept : font_(other.release()) {}
    FontHandle& operator=(FontHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    FontHandle(const FontHandle&) = delete;
    FontHandle& operator=(const FontHandle&) = delete;

    HFONT get() const { return font_; }
    HFONT release() {
        HFONT font = font_;
        font_ = nullptr;
        return font;
    }
    void reset(HFONT font = nullptr) {
        if (font_ != nullptr) {
            DeleteObject(font_);
        }
        font_ = font;
    }

  private:
    HFONT font_ = nullptr;
};

class MainWindow final : public NoteWindow {
  public:
    // Creates the window, hidden. An empty handler ignores every change.
    explicit MainWindow(LinkChangedHandler on_link_changed = {});
    // Destroys the window if it is still there, without a quit request.
    ~MainWindow() override;

    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Shows the window and gives the box the keyboard focus.
    void show();

    // Replaces the handler; a run already under way is not affected.
    void set_link_changed_handler(LinkChangedHandler on_link_changed);

    // True from the closing of the window on.
    bool is_closed() const { return closed_; }

    // The native windows; null once destroyed.
    HWND handle() const { return window_; }
    HWND link_label() const { return link_label_; }
    HWND link_box() const { return link_box_; }

    Text link_text() override;
    void set_link_text(std::string_view text) override;
    void set_caption(std::string_view text) override;
    void show_message(std::string_view text) override;
    void process_pending_messages() override;

  private:
    static LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam);
    LRESULT handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    void create_children();
    void close();
    void on_destroyed();
    void raise_link_changed();

    LinkChangedHandler on_link_changed_;
    HWND window_ = nullptr;
    HWND link_label_ = nullptr;
    HWND link_box_ = nullptr;
    FontHandle box_font_;
    int runs_under_way_ = 0;
    bool writing_box_ = false;
    bool closed_ = false;
    bool destroying_quietly_ = false;
};

// The thread's message loop: runs until the quit request and returns its
// code.
int run_message_loop();

// The message box of the program: `text` under the caption "信息：", one OK
// button, no icon, no owner, task-modal (every window of the thread refuses
// input until it is dismissed).
void show_task_modal_message(std::string_view text);

// Takes, translates and dispatches the messages waiting in the thread's
// queue until it is empty or a quit request is next; the quit request stays
// queued.
void pump_pending_messages();

}  // namespace notepics
