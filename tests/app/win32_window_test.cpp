// The Windows window as the system sees it: styles, places, texts, the
// change notice of the box, the message box, the message pump and closing.
// Runs on Windows or under wine (with a Chinese locale, so that the system
// code page is 936, on an X server with a window manager).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_win32.h"

namespace notepics {
namespace {

// "by：Tuvelko"
const Text kInitialCaption = "by\xA3\xBATuvelko";
// "链  接："
const Text kLinkLabelText = "\xC1\xB4  \xBD\xD3\xA3\xBA";
// "信息："
const Text kMessageCaption = "\xD0\xC5\xCF\xA2\xA3\xBA";
// "正在下载：3/7"
const Text kDownloadingCaption =
    "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xA3\xBA"
    "3/7";
// "地址错误或软件失效"
const Text kWrongAddressMessage =
    "\xB5\xD8\xD6\xB7\xB4\xED\xCE\xF3\xBB\xF2\xC8\xED\xBC\xFE\xCA\xA7\xD0\xA7";

Text window_text(HWND window) {
    char text[1024] = {};
    const int length = GetWindowTextA(window, text, sizeof text);
    return Text(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// The place of child `child` in its parent's client area.
RECT place_in_parent(HWND child) {
    RECT place{};
    GetWindowRect(child, &place);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&place), 2);
    return place;
}

// Takes every message left in the queue, so that one test's leftovers never
// reach the next; true when a quit request with `code` was among them.
bool drain_queue_for_quit(int code) {
    bool quit = false;
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != 0) {
        if (message.message == WM_QUIT) {
            quit = quit || static_cast<int>(message.wParam) == code;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return quit;
}

// The X window that wine made for `window`; 0 on Windows itself.
unsigned long long x11_window_of(HWND window) {
    return reinterpret_cast<ULONG_PTR>(GetPropA(window, "__wine_x11_whole_window"));
}

// Standard output of a command of the host system's shell, run from under
// wine (which starts a program that is no Windows program as the host's
// own), once it has ended. Wine hands out no handle to wait on for such a
// process: the shell moves the finished output into place in the host's
// /tmp, which wine shows as Z:\tmp, and this waits for it there.
std::string host_command_output(const std::string& command) {
    const std::string name = "notepics-host-output-" + std::to_string(GetCurrentProcessId());
    std::string command_line = "/bin/sh -c \"" + command + " >/tmp/" + name +
                               ".part 2>&1; mv /tmp/" + name + ".part /tmp/" + name + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process) == 0) {
        return {};
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const std::string windows_name = "Z:\\tmp\\" + name;
    HANDLE input = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 1500 && input == INVALID_HANDLE_VALUE; ++attempt) {
        input = CreateFileA(windows_name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE) {
            Sleep(20);
        }
    }
    std::string text;
    if (input != INVALID_HANDLE_VALUE) {
        char chunk[4096];
        DWORD read = 0;
        while (ReadFile(input, chunk, sizeof chunk, &read, nullptr) != 0 && read > 0) {
            text.append(chunk, read);
        }
        CloseHandle(input);
    }
    DeleteFileA(windows_name.c_str());
    return text;
}

class Win32Window : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(GetACP(), 936u) << "run with a Chinese locale"; }
    void TearDown() override { drain_queue_for_quit(0); }
};

TEST_F(Win32Window, HasAFixedFrameOf331By84CentredInTheWorkArea) {
    MainWindow window;
    window.show();
    const HWND handle = window.handle();
    ASSERT_NE(handle, nullptr);

    RECT outer{};
    GetWindowRect(handle, &outer);
    EXPECT_EQ(outer.right - outer.left, 331);
    EXPECT_EQ(outer.bottom - outer.top, 84);
    RECT area{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    EXPECT_EQ(outer.left, area.left + (area.right - area.left - 331) / 2);
    EXPECT_EQ(outer.top, area.top + (area.bottom - area.top - 84) / 2);

    const LONG style = GetWindowLongA(handle, GWL_STYLE);
    for (const LONG wanted : {WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX, WS_VISIBLE}) {
        EXPECT_EQ(style & wanted, wanted) << std::hex << wanted;
    }
    for (const LONG unwanted : {WS_THICKFRAME, WS_MAXIMIZEBOX, WS_HSCROLL, WS_VSCROLL}) {
        EXPECT_EQ(style & unwanted, 0) << std::hex << unwanted;
    }
    EXPECT_EQ(GetWindowLongA(handle, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_EQ(GetClassLongPtrA(handle, GCLP_HBRBACKGROUND), ULONG_PTR{COLOR_BTNFACE + 1});
    EXPECT_EQ(window_text(handle), kInitialCaption);
}

TEST_F(Win32Window, LabelAndBoxSitWhereTheyBelongWithTheirLooks) {
    MainWindow window;
    window.show();

    const HWND label = window.link_label();
    ASSERT_NE(label, nullptr);
    const RECT label_place = place_in_parent(label);
    EXPECT_EQ(label_place.left, 8);
    EXPECT_EQ(label_place.top, 8);
    EXPECT_EQ(label_place.right - label_place.left, 56);
    EXPECT_EQ(label_place.bottom - label_place.top, 24);
    EXPECT_EQ(window_text(label), kLinkLabelText);

    const HWND box = window.link_box();
    ASSERT_NE(box, nullptr);
    const RECT box_place = place_in_parent(box);
    EXPECT_EQ(box_place.left, 64);
    EXPECT_EQ(box_place.top, 8);
    EXPECT_EQ(box_place.right - box_place.left, 256);
    EXPECT_EQ(box_place.bottom - box_place.top, 40);
    EXPECT_EQ(window_text(box), "");
    EXPECT_EQ(GetFocus(), box);

    const LONG style = GetWindowLongA(box, GWL_STYLE);
    for (const LONG wanted : {ES_MULTILINE, ES_WANTRETURN, ES_AUTOVSCROLL}) {
        EXPECT_EQ(style & wanted, wanted) << std::hex << wanted;
    }
    // Wraps at the right edge; no scroll bars; left aligned.
    for (const LONG unwanted : {ES_AUTOHSCROLL, WS_HSCROLL, WS_VSCROLL, ES_CENTER, ES_RIGHT}) {
        EXPECT_EQ(style & unwanted, 0) << std::hex << unwanted;
    }
    EXPECT_EQ(GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_STATICEDGE, WS_EX_STATICEDGE);
    EXPECT_GE(static_cast<unsigned long>(SendMessageA(box, EM_GETLIMITTEXT, 0, 0)), 0x7FFFFFFEul);

    const auto font = reinterpret_cast<HFONT>(SendMessageA(box, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA description{};
    ASSERT_EQ(GetObjectA(font, sizeof description, &description), int{sizeof description});
    EXPECT_EQ(description.lfHeight, -12);
    EXPECT_EQ(description.lfWeight, FW_NORMAL);
    EXPECT_EQ(description.lfCharSet, GB2312_CHARSET);
    EXPECT_STREQ(description.lfFaceName, "");
}

TEST_F(Win32Window, SetLinkTextRaisesTheChangeExactlyOnceAndReadsBack) {
    struct Case {
        const char* name;
        Text written;
        Text read_back;
    };
    const std::vector<Case> cases = {
        {"share text", "\xB8\xB4\xD6\xC6 http://x.test/a\xA3\xAC\xB8\xB4\xD6\xC6",
         "\xB8\xB4\xD6\xC6 http://x.test/a\xA3\xAC\xB8\xB4\xD6\xC6"},
        {"same text again", "\xB8\xB4\xD6\xC6 http://x.test/a\xA3\xAC\xB8\xB4\xD6\xC6",
         "\xB8\xB4\xD6\xC6 http://x.test/a\xA3\xAC\xB8\xB4\xD6\xC6"},
        {"line breaks", "a\nb\r\nc", "a\nb\nc"},
        {"empty", "", ""},
        {"empty again", "", ""},
        // Longer than an edit control takes by default.
        {"long", Text(33000, 'x'), Text(33000, 'x')},
    };
    std::vector<Text> seen;
    MainWindow window([&](NoteWindow& w) { seen.push_back(w.link_text()); });
    window.show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        seen.clear();
        window.set_link_text(c.written);
        EXPECT_EQ(seen, std::vector<Text>{c.read_back});
        EXPECT_EQ(window.link_text(), c.read_back);
    }
}

TEST_F(Win32Window, EveryEditOfTheUserRaisesTheChangeOnce) {
    // "复制"
    const Text pasted = "\xB8\xB4\xD6\xC6 http://x.test/s/1";
    std::vector<Text> seen;
    MainWindow window([&](NoteWindow& w) { seen.push_back(w.link_text()); });
    window.show();
    const HWND box = window.link_box();

    ASSERT_TRUE(OpenClipboard(window.handle()));
    EmptyClipboard();
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, pasted.size() + 1);
    ASSERT_NE(memory, nullptr);
    auto* bytes = static_cast<char*>(GlobalLock(memory));
    std::copy(pasted.begin(), pasted.end(), bytes);
    bytes[pasted.size()] = '\0';
    GlobalUnlock(memory);
    ASSERT_NE(SetClipboardData(CF_TEXT, memory), nullptr);
    CloseClipboard();

    SendMessageA(box, WM_PASTE, 0, 0);
    EXPECT_EQ(seen, std::vector<Text>{pasted});

    // Typing: one change per character, Enter breaking the line.
    seen.clear();
    SendMessageA(box, WM_CHAR, 'a', 0);
    SendMessageA(box, WM_CHAR, VK_RETURN, 0);
    SendMessageA(box, WM_CHAR, 'b', 0);
    EXPECT_EQ(seen, (std::vector<Text>{pasted + "a", pasted + "a\n", pasted + "a\nb"}));

    // Deleting everything: the handler sees the empty box.
    seen.clear();
    SendMessageA(box, EM_SETSEL, 0, -1);
    SendMessageA(box, WM_CLEAR, 0, 0);
    EXPECT_EQ(seen, std::vector<Text>{""});
}

TEST_F(Win32Window, CaptionChangesAtOnceInsideTheHandler) {
    Text caption_during_run;
    HWND handle = nullptr;
    MainWindow window([&](NoteWindow& w) {
        w.set_caption(kDownloadingCaption);
        caption_during_run = window_text(handle);
    });
    handle = window.handle();
    window.show();
    window.set_link_text("x");
    EXPECT_EQ(window_text(window.handle()), kDownloadingCaption);
    EXPECT_EQ(caption_during_run, kDownloadingCaption);
}

TEST_F(Win32Window, CaptionReachesTheXServerWhileTheHandlerBlocks) {
    MainWindow window;
    window.show();
    window.process_pending_messages();
    const unsigned long long x_window = x11_window_of(window.handle());
    if (x_window == 0) {
        GTEST_SKIP() << "not under wine on an X server";
    }
    const std::string xprop = "/usr/bin/xprop -id " + std::to_string(x_window) + " _NET_WM_NAME";
    const struct {
        Text caption;
        std::string utf8;
    } cases[] = {
        {kDownloadingCaption, "正在下载：3/7"},
        {"plain 12", "plain 12"},
        {"\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9", "下载完成"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::string seen;
        // The handler asks the server while it still holds up the queue.
        window.set_link_changed_handler([&](NoteWindow& w) {
            w.set_caption(c.caption);
            seen = host_command_output(xprop);
        });
        window.set_link_text("x");
        EXPECT_EQ(seen, "_NET_WM_NAME(UTF8_STRING) = \"" + c.utf8 + "\"\n");
    }
}

TEST_F(Win32Window, MessageBoxIsTaskModalWithoutOwnerAndReturnsOnOk) {
    MainWindow window;
    window.show();
    const HWND main = window.handle();

    struct Seen {
        Text text;
        bool main_enabled = true;
        bool has_owner = true;
        bool found = false;
    } seen;
    std::thread user([&] {
        for (int attempt = 0; attempt < 600 && !seen.found; ++attempt) {
            const HWND box = FindWindowA("#32770", kMessageCaption.c_str());
            if (box == nullptr) {
                Sleep(50);
                continue;
            }
            seen.found = true;
            seen.text = window_text(GetDlgItem(box, 0xFFFF));
            seen.main_enabled = IsWindowEnabled(main) != 0;
            seen.has_owner = GetWindow(box, GW_OWNER) != nullptr;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    });
    window.show_message(kWrongAddressMessage);
    user.join();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text, kWrongAddressMessage);
    EXPECT_FALSE(seen.main_enabled);
    EXPECT_FALSE(seen.has_owner);
    EXPECT_TRUE(IsWindowEnabled(main));
}

TEST_F(Win32Window, PumpDispatchesWaitingMessagesAndLeavesTheQuitRequestQueued) {
    std::vector<Text> seen;
    MainWindow window([&](NoteWindow& w) { seen.push_back(w.link_text()); });
    window.show();
    // A keystroke waiting in the queue runs a nested change inside the pump.
    PostMessageA(window.link_box(), WM_CHAR, 'k', 0);
    PostQuitMessage(7);
    PostMessageA(window.link_box(), WM_CHAR, 'z', 0);
    window.process_pending_messages();
    EXPECT_EQ(seen, (std::vector<Text>{"k", "kz"}));
    EXPECT_TRUE(drain_queue_for_quit(7));

    // Nothing waiting: returns at once.
    window.process_pending_messages();
}

TEST_F(Win32Window, ClosingIdleWindowDestroysItAndRequestsQuitWithZero) {
    MainWindow window;
    window.show();
    const HWND handle = window.handle();
    SendMessageA(handle, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_TRUE(window.is_closed());
    EXPECT_EQ(window.handle(), nullptr);
    EXPECT_TRUE(drain_queue_for_quit(0));
}

TEST_F(Win32Window, ClosedDuringARunTheWindowIsLeftAloneAndGoesOnceTheRunEnds) {
    HWND handle = nullptr;
    struct AfterClose {
        bool window_alive = false;
        bool visible = true;
        Text link;
    } after;
    MainWindow window([&](NoteWindow& w) {
        // The user closes the window while a page is being fetched.
        PostMessageA(handle, WM_CLOSE, 0, 0);
        w.process_pending_messages();
        after.window_alive = IsWindow(handle) != 0;
        after.visible = IsWindowVisible(handle) != 0;
        after.link = w.link_text();
        // The rest of the run: none of this reaches the window.
        w.set_caption(kDownloadingCaption);
        w.set_link_text("");
        w.show_message(kWrongAddressMessage);
    });
    handle = window.handle();
    window.show();
    SendMessageA(window.link_box(), WM_CHAR, 'q', 0);

    EXPECT_TRUE(after.window_alive);
    EXPECT_FALSE(after.visible);
    EXPECT_EQ(after.link, "");
    EXPECT_TRUE(window.is_closed());
    ASSERT_TRUE(IsWindow(handle));
    EXPECT_EQ(window_text(handle), kInitialCaption);
    EXPECT_EQ(window_text(window.link_box()), "q");

    // Back in the message loop, the window goes and the loop ends with 0.
    EXPECT_TRUE(drain_queue_for_quit(0));
    EXPECT_FALSE(IsWindow(handle));
}

TEST(Win32WindowText, LineBreaksBetweenBoxAndNoteWindow) {
    struct Case {
        Text box;
        Text note;
    };
    const Case cases[] = {
        {"a\r\nb", "a\nb"},
        {"\r\n\r\n", "\n\n"},
        {"a\rb", "a\rb"},  // a lone CR is kept
        {"\xB8\xB4\r\n\xD6\xC6", "\xB8\xB4\n\xD6\xC6"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text_from_box(c.box), c.note);
        EXPECT_EQ(text_for_box(c.note), c.box) << c.box;
    }
    EXPECT_EQ(text_for_box("a\nb\r\nc"), "a\r\nb\r\nc");
}

}  // namespace
}  // namespace notepics
