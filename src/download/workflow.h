// The program's whole job: from whatever the user pasted into the link box
// to the note's pictures saved beside the program.
//
// `on_link_changed` runs once for every change of the box. It reads the box
// and, when it is not empty, turns the text into the note page's address
// (`resolve_note_url`), fetches the page and saves every picture it names
// (`download_note_images`). The caption reports progress; the box is cleared
// at the end. Everything of a run lives in its locals, so a run started
// while another waits for a page (the window pumps its events inside each
// page request) goes to its end and the waiting run then carries on.
//
//   MainWindow window([](NoteWindow& w) { on_link_changed(w); });
//
// Tests point a run at another service and another folder:
//   WorkflowSettings settings{.web_origin = "http://127.0.0.1:8080/",
//                             .picture_origin = "http://127.0.0.1:8081/",
//                             .picture_folder = "/tmp/pictures"};
//   on_link_changed(window, settings);
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>

#include "download/note_window.h"
#include "download/picture_files.h"
#include "download/service_config.h"
#include "regex/regex_object.h"
#include "text/text.h"

namespace notepics {

// The folder one run saves its pictures in, and the name the end caption
// gives it (GBK, e.g. "~/Pictures/notepics"); an empty name leaves the
// folder unnamed.
struct PictureFolder {
    std::filesystem::path path;
    Text caption_name;
};

// Where a run fetches from and saves to; the defaults are the program's.
struct WorkflowSettings {
    // Put in front of the site-relative note path of a short link.
    Text web_origin = Text(::notepics::web_origin);
    // Put in front of each picture identifier.
    Text picture_origin = Text(::notepics::picture_origin);
    // Where the pictures are saved, unless choose_picture_folder is set.
    std::filesystem::path picture_folder = run_directory();
    // When set, asked once in every run that has pictures to save, before
    // the first one; its answer takes the place of picture_folder.
    std::function<PictureFolder()> choose_picture_folder = {};
    // Limit in seconds for connecting and for each stretch without a byte
    // moving, for pages and pictures alike; 0 or less means 30.
    int timeout_seconds = 0;
};

// The change handler of the link box: one whole run, with the program's
// settings or with `settings`.
void on_link_changed(NoteWindow& window);
void on_link_changed(NoteWindow& window, const WorkflowSettings& settings);

// The note page's address for a non-empty box text:
// - a share text ("... http://x/y，复制本条信息 ...") stands for its link;
// - a text holding "explore" is the address already and comes back whole;
// - anything else is a short link, resolved by hand through two redirect
//   pages (fetched without following redirects): the first names the next
//   address in an anchor whose text begins with "Temporary", the second the
//   site-relative note path, which is put after `web_origin`.
// Nothing is checked: what cannot be resolved leaves pieces empty, down to
// `web_origin` alone.
//   resolve_note_url("https://site.test/explore/1", window) == "https://site.test/explore/1"
Text resolve_note_url(std::string_view box_text, NoteWindow& window);
Text resolve_note_url(std::string_view box_text, NoteWindow& window, std::string_view web_origin);

// Fetches the note page at `note_url` with the browser cookie, without
// following redirects, and saves the picture of every "traceId" value in it,
// in page order, repeats included: picture_origin + identifier +
// "?imageView2/2/w/1200/format/webp", saved unconverted as identifier +
// ".jpg" in the picture folder. Captions: "开始下载：0/N", then
// "正在下载：i/N" before picture i, then `end_caption`; the box is then
// cleared. A picture is not saved when its identifier is empty or could name
// a path, its download failed or brought no picture (an empty body, a text
// or JSON type), or its file could not be written; an older file of its
// name then stays as it was. A page without any identifier shows the
// message "地址错误或软件失效" and changes nothing else.
void download_note_images(std::string_view note_url, RegexObject& regex, NoteWindow& window);
void download_note_images(std::string_view note_url, RegexObject& regex, NoteWindow& window,
                          const WorkflowSettings& settings);

// The caption at the end of a run that saved `count` pictures, `failed` of
// them not: "下载完成" when every picture was saved, else "下载完成，失败 k/N";
// followed by " → " and `folder_name` when that is not empty.
//   end_caption(1, 4, "~/Pictures/notepics") == "下载完成，失败 1/4 → ~/Pictures/notepics" (in GBK)
Text end_caption(int failed, int count, std::string_view folder_name = {});

}  // namespace notepics
