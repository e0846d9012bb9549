#include "download/workflow.h"

#include <functional>

#include "download/fetch.h"
#include "text/markers.h"
#include "web/web_request.h"

namespace notepics {
namespace {

// Texts the user sees, in GBK.
constexpr std::string_view kCaptionStart =
    "\xBF\xAA\xCA\xBC\xCF\xC2\xD4\xD8\xA3\xBA\x30\x2F";  // 开始下载：0/
constexpr std::string_view kCaptionPicture =
    "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xA3\xBA";                                // 正在下载：
constexpr std::string_view kCaptionDone = "\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9";  // 下载完成
constexpr std::string_view kCaptionFailed = "\xA3\xAC\xCA\xA7\xB0\xDC ";       // ，失败
constexpr std::string_view kCaptionFolder = " \xA1\xFA ";                      // " → "
constexpr std::string_view kNothingFound =
    "\xB5\xD8\xD6\xB7\xB4\xED\xCE\xF3\xBB\xF2\xC8\xED\xBC\xFE\xCA\xA7\xD0\xA7";  // 地址错误或软件失效

// What the service hands out.
constexpr std::string_view kShareMarker =
    "\xB8\xB4\xD6\xC6\xB1\xBE\xCC\xF5\xD0\xC5\xCF\xA2";  // 复制本条信息
constexpr std::string_view kLinkEnd =
    "\xA3\xAC\xB8\xB4\xD6\xC6\xB1\xBE\xCC\xF5\xD0\xC5\xCF\xA2";  // ，复制本条信息
constexpr std::string_view kLinkStart = "http";
constexpr std::string_view kPageMarker = "explore";
constexpr std::string_view kFirstAnchorStart = "<a href=\"";
constexpr std::string_view kFirstAnchorEnd = "\">Temporary";
constexpr std::string_view kSecondAnchorStart = "<a href=\"/";
constexpr std::string_view kSecondAnchorEnd = "\">/explore";

// The note page names each picture as "traceId":"<identifier>".
constexpr std::string_view kTraceIdPattern = "traceId\":\".*?\"";
constexpr std::string_view kTraceIdKey = "traceId\":\"";
constexpr std::string_view kQuote = "\"";
constexpr std::string_view kPictureQuery = "?imageView2/2/w/1200/format/webp";

std::function<void()> pump_of(NoteWindow& window) {
    return [&window] { window.process_pending_messages(); };
}

// A page fetched with GET and no redirect followed; empty on failure.
Text fetch_page(std::string_view url, std::string_view cookies, NoteWindow& window,
                int timeout_seconds) {
    WebRequestParams request;
    request.url = Text(url);
    request.method = 0;
    request.request_cookies = Text(cookies);
    request.no_redirect = true;
    request.timeout_seconds = timeout_seconds;
    return web_request(request, pump_of(window));
}

// The identifier in a match: the key and every double quote removed.
Text picture_identifier(std::string_view match) {
    return text_replace(text_replace(match, kTraceIdKey), kQuote);
}

Text progress_caption(int picture, int count) {
    return text_concat({kCaptionPicture, int_to_text(picture), "/", int_to_text(count)});
}

// Fetches and saves one picture into `folder`; false when it was not saved.
bool save_picture(std::string_view identifier, const std::filesystem::path& folder,
                  const WorkflowSettings& settings) {
    const std::optional<std::filesystem::path> file = picture_file_path(folder, identifier);
    if (!file) {
        return false;  // neither fetched nor written
    }
    const std::optional<ByteBuffer> picture =
        fetch_picture(text_concat({settings.picture_origin, identifier, kPictureQuery}),
                      kMaxPictureBytes, settings.timeout_seconds);
    return picture && write_bytes_to_file(*file, *picture);
}

// resolve_note_url, with pages fetched under `timeout_seconds`.
Text resolve_link(std::string_view box_text, NoteWindow& window, std::string_view web_origin_text,
                  int timeout_seconds) {
    Text link(box_text);
    if (text_find(box_text, kShareMarker) != -1) {
        link = text_concat({kLinkStart, text_between(box_text, kLinkStart, kLinkEnd)});
    }
    if (text_find(box_text, kPageMarker) != -1) {
        return Text(box_text);
    }
    const Text first_page = fetch_page(link, "", window, timeout_seconds);
    const Text next_address = text_between(first_page, kFirstAnchorStart, kFirstAnchorEnd);
    const Text second_page = fetch_page(next_address, "", window, timeout_seconds);
    const Text note_path = text_between(second_page, kSecondAnchorStart, kSecondAnchorEnd);
    return text_concat({web_origin_text, note_path});
}

}  // namespace

void on_link_changed(NoteWindow& window) {
    on_link_changed(window, WorkflowSettings{});
}

void on_link_changed(NoteWindow& window, const WorkflowSettings& settings) {
    RegexObject regex;  // the run's own, created first and destroyed last
    const Text box_text = window.link_text();
    if (box_text.empty()) {
        return;
    }
    const Text note_url =
        resolve_link(box_text, window, settings.web_origin, settings.timeout_seconds);
    download_note_images(note_url, regex, window, settings);
}

Text end_caption(int failed, int count, std::string_view folder_name) {
    Text caption(kCaptionDone);
    if (failed != 0) {
        caption =
            text_concat({caption, kCaptionFailed, int_to_text(failed), "/", int_to_text(count)});
    }
    if (!folder_name.empty()) {
        caption = text_concat({caption, kCaptionFolder, folder_name});
    }
    return caption;
}

Text resolve_note_url(std::string_view box_text, NoteWindow& window) {
    return resolve_note_url(box_text, window, web_origin);
}

Text resolve_note_url(std::string_view box_text, NoteWindow& window,
                      std::string_view web_origin_text) {
    return resolve_link(box_text, window, web_origin_text, 0);
}

void download_note_images(std::string_view note_url, RegexObject& regex, NoteWindow& window) {
    download_note_images(note_url, regex, window, WorkflowSettings{});
}

void download_note_images(std::string_view note_url, RegexObject& regex, NoteWindow& window,
                          const WorkflowSettings& settings) {
    const Text page = fetch_page(note_url, note_cookie_text, window, settings.timeout_seconds);
    regex.search(kTraceIdPattern, page);
    const int count = regex.match_count();
    if (count == 0) {
        window.show_message(kNothingFound);
        return;
    }
    // The folder is chosen anew by every run, so that a folder that became
    // writable, or stopped being so, is noticed.
    const PictureFolder folder = settings.choose_picture_folder
                                     ? settings.choose_picture_folder()
                                     : PictureFolder{settings.picture_folder, Text()};
    // From here on nothing lets window events through: the pictures are
    // fetched and saved with the window frozen, only the caption moves.
    window.set_caption(text_concat({kCaptionStart, int_to_text(count)}));
    int failed = 0;
    for (int picture = 1; picture <= count; ++picture) {
        window.set_caption(progress_caption(picture, count));
        if (!save_picture(picture_identifier(regex.match_text(picture)), folder.path, settings)) {
            ++failed;
        }
    }
    window.set_caption(end_caption(failed, count, folder.caption_name));
    window.set_link_text("");
}

}  // namespace notepics
