// The services the download workflow needs of the program's window, free of
// any toolkit: reading and writing the link box, the caption (the program's
// status line), a message box, and a pump for queued window events.
//
// Every call runs on the GUI thread, inside the box's change handler or code
// it calls. Texts are GBK. Nothing throws. Once the user has closed the
// window the object stays valid until the handler returns, but it no longer
// touches the window: reads give the empty text and writes do nothing.
//
// Example, a handler that reports the box text in the caption:
//   void on_link_changed(NoteWindow& window) {
//       Text link = window.link_text();
//       if (link.empty()) return;
//       window.set_caption(link);
//       window.process_pending_messages();  // may run a nested handler
//   }
#pragma once

#include <functional>
#include <string_view>

#include "text/text.h"

namespace notepics {

class NoteWindow {
  public:
    virtual ~NoteWindow() = default;

    // The box's current text; the empty text when the box is empty. Line
    // breaks read back as "\n".
    virtual Text link_text() = 0;

    // Replaces the box's text ("\r\n" and "\n" both break a line), then
    // calls the change handler exactly once before returning, even when the
    // text is unchanged.
    virtual void set_link_text(std::string_view text) = 0;

    // Replaces the caption. The new caption reaches the screen before the
    // call returns, with no pass through the event loop.
    virtual void set_caption(std::string_view text) = 0;

    // A modal message box with the caption "信息：", `text` and one OK
    // button; returns once the user has dismissed it. Every window of the
    // program refuses input meanwhile.
    virtual void show_message(std::string_view text) = 0;

    // Delivers the events already queued (input, paints, timers) and
    // returns when none is left. A change of the box delivered here runs
    // its handler to the end before this call returns.
    virtual void process_pending_messages() = 0;
};

// The handler called once for every change of the box's text: each edit of
// the user and each set_link_text. It runs synchronously on the GUI thread
// and may be re-entered from process_pending_messages.
using LinkChangedHandler = std::function<void(NoteWindow&)>;

}  // namespace notepics
