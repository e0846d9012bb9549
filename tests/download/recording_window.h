// A NoteWindow without a screen, for tests: it keeps the box text and
// records, in order, every caption, message and box write, and every run of
// the change handler (with the box text it started on, and its end).
//
//   RecordingWindow window([&](NoteWindow& w) { on_link_changed(w, settings); });
//   window.paste(gbk("http://127.0.0.1:8080/s/n1"));
//   EXPECT_THAT(window.log(), ElementsAre("run: http://...", ..., "end"));
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "download/note_window.h"
#include "text/text.h"

namespace notepics {

// GBK of UTF-8 text, and back, through the program's own code-page layer.
Text gbk(std::string_view utf8);
std::string utf8(std::string_view gbk_text);

class RecordingWindow final : public NoteWindow {
  public:
    explicit RecordingWindow(LinkChangedHandler handler) : handler_(std::move(handler)) {}

    // What the user does: replace the box text, which runs the handler.
    void paste(std::string_view text);

    // Runs once, at the next process_pending_messages, as an event queued
    // meanwhile would.
    void at_next_pump(std::function<void(RecordingWindow&)> action) {
        pending_ = std::move(action);
    }

    // Everything recorded so far, in UTF-8, one entry each:
    //   "run: <box text>", "end", "caption: <text>", "message: <text>",
    //   "box: <text>".
    const std::vector<std::string>& log() const { return log_; }
    // The raw GBK caption texts, in order.
    const std::vector<Text>& captions() const { return captions_; }

    const Text& box() const { return box_; }
    int pumps() const { return pumps_; }

    Text link_text() override { return box_; }
    void set_link_text(std::string_view text) override;
    void set_caption(std::string_view text) override;
    void show_message(std::string_view text) override;
    void process_pending_messages() override;

  private:
    void run_handler();

    LinkChangedHandler handler_;
    std::function<void(RecordingWindow&)> pending_;
    Text box_;
    std::vector<std::string> log_;
    std::vector<Text> captions_;
    int pumps_ = 0;
};

}  // namespace notepics
