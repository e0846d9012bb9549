#include "recording_window.h"

#include <utility>

#include "text/codepage.h"

namespace notepics {

namespace {
constexpr int kUtf8 = 65001;
}

Text gbk(std::string_view utf8_text) {
    return utf16_to_ansi(code_page_to_utf16(text_to_bytes(utf8_text), kUtf8));
}

std::string utf8(std::string_view gbk_text) {
    return utf16_to_code_page(ansi_to_utf16(gbk_text), kUtf8, /*use_code_page=*/true);
}

void RecordingWindow::paste(std::string_view text) {
    box_ = Text(text);
    run_handler();
}

void RecordingWindow::set_link_text(std::string_view text) {
    box_ = Text(text);
    log_.push_back("box: " + utf8(box_));
    run_handler();
}

void RecordingWindow::set_caption(std::string_view text) {
    captions_.emplace_back(text);
    log_.push_back("caption: " + utf8(text));
}

void RecordingWindow::show_message(std::string_view text) {
    log_.push_back("message: " + utf8(text));
}

void RecordingWindow::process_pending_messages() {
    ++pumps_;
    if (pending_) {
        std::exchange(pending_, {})(*this);
    }
}

void RecordingWindow::run_handler() {
    log_.push_back("run: " + utf8(box_));
    if (handler_) {
        handler_(*this);
    }
    log_.push_back("end");
}

}  // namespace notepics
