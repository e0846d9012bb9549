#include "app/main_window_win32.h"

#include <string>
#include <utility>

namespace notepics {
namespace {

constexpr const char* kWindowClass = "notepics_main_window";

constexpr int kLinkBoxId = 1;

// Posted to the window once the last run that saw it closed has returned.
constexpr UINT kDestroyWhenIdle = WM_APP + 1;

// A fixed frame with a title bar, the system menu and the minimise button:
// neither resizing nor maximising.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Multi-line, wrapping at the right edge (no ES_AUTOHSCROLL), scrolling up
// as it fills, Enter breaking the line; no scroll bars.
constexpr DWORD kLinkBoxStyle =
    WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;

// Counts a run for the scope.
class CountGuard {
  public:
    explicit CountGuard(int& count) : count_(count) { ++count_; }
    ~CountGuard() { --count_; }
    CountGuard(const CountGuard&) = delete;
    CountGuard& operator=(const CountGuard&) = delete;

  private:
    int& count_;
};

bool register_window_class(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, kWindowClass, &existing) != 0) {
        return true;
    }
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    window_class.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = kWindowClass;
    return RegisterClassExA(&window_class) != 0;
}

RECT work_area() {
    RECT area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    return area;
}

// A font with a character height of 12 pixels, normal weight and the
// GB2312 character set, without a face name: the system picks the face.
FontHandle make_link_box_font() {
    LOGFONTA font{};
    font.lfHeight = -kLinkBoxPixelSize;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = GB2312_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_DONTCARE;
    return FontHandle(CreateFontIndirectA(&font));
}

HWND make_child(HWND parent, DWORD extended_style, const char* window_class, DWORD style,
                const ChildPlace& place, int id, std::string_view text) {
    const std::string initial(text);
    return CreateWindowExA(extended_style, window_class, initial.c_str(), style, place.x, place.y,
                           place.width, place.height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(nullptr), nullptr);
}

// Hands what the window system holds back to the display at once, without
// taking or dispatching a single message. On Windows the frame has drawn a
// new caption already; where the window system talks to a display server
// (wine on X), its requests wait in a buffer until the thread next looks at
// its queue, which this zero-length wait does.
void send_to_display() {
    MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, 0);
}

}  // namespace

POINT centred_position(const RECT& area, int width, int height) {
    return {area.left + (area.right - area.left - width) / 2,
            area.top + (area.bottom - area.top - height) / 2};
}

Text text_from_box(std::string_view box_text) {
    Text text;
    text.reserve(box_text.size());
    for (std::size_t i = 0; i < box_text.size(); ++i) {
        if (box_text[i] == '\r' && i + 1 < box_text.size() && box_text[i + 1] == '\n') {
            continue;
        }
        text.push_back(box_text[i]);
    }
    return text;
}

Text text_for_box(std::string_view text) {
    Text box_text;
    box_text.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            box_text.push_back('\r');
        }
        box_text.push_back(text[i]);
    }
    return box_text;
}

MainWindow::MainWindow(LinkChangedHandler on_link_changed)
    : on_link_changed_(std::move(on_link_changed)) {
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!register_window_class(instance, &MainWindow::window_procedure)) {
        closed_ = true;
        return;
    }
    const POINT place = centred_position(work_area(), kWindowWidth, kWindowHeight);
    const std::string caption(kInitialCaption);
    // The window procedure takes the object from the creation parameters and
    // sets window_ and the children during the call.
    CreateWindowExA(0, kWindowClass, caption.c_str(), kWindowStyle, place.x, place.y, kWindowWidth,
                    kWindowHeight, nullptr, nullptr, instance, this);
    if (window_ == nullptr) {
        closed_ = true;
    }
}

MainWindow::~MainWindow() {
    if (window_ != nullptr) {
        destroying_quietly_ = true;
        DestroyWindow(window_);
    }
}

void MainWindow::show() {
    if (window_ == nullptr) {
        return;
    }
    closed_ = false;
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    SetFocus(link_box_);
}

void MainWindow::set_link_changed_handler(LinkChangedHandler on_link_changed) {
    on_link_changed_ = std::move(on_link_changed);
}

Text MainWindow::link_text() {
    if (closed_ || link_box_ == nullptr) {
        return {};
    }
    // The length may count more than the text has (double-byte
    // characters); the copy says how much it wrote.
    const int length = GetWindowTextLengthA(link_box_);
    if (length <= 0) {
        return {};
    }
    std::string box_text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(link_box_, box_text.data(), length + 1);
    box_text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text_from_box(box_text);
}

void MainWindow::set_link_text(std::string_view text) {
    if (closed_ || link_box_ == nullptr) {
        return;
    }
    {
        // A change notice the box may send during the write is not passed
        // on: the change is raised exactly once below.
        FlagGuard writing(writing_box_);
        SetWindowTextA(link_box_, text_for_box(text).c_str());
    }
    raise_link_changed();
}

void MainWindow::set_caption(std::string_view text) {
    if (closed_ || window_ == nullptr) {
        return;
    }
    // The frame draws the new caption before the call returns.
    SetWindowTextA(window_, Text(text).c_str());
    send_to_display();
}

void MainWindow::show_message(std::string_view text) {
    if (closed_) {
        return;
    }
    show_task_modal_message(text);
}

void MainWindow::process_pending_messages() {
    pump_pending_messages();
}

LRESULT CALLBACK MainWindow::window_procedure(HWND window, UINT message, WPARAM wparam,
                                              LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        auto* self = static_cast<MainWindow*>(creation->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcA(window, message, wparam, lparam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    }
    return self->handle_message(window, message, wparam, lparam);
}

LRESULT MainWindow::handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            create_children();
            return 0;
        case WM_SETFOCUS:
            // The box is the only control that takes input.
            if (link_box_ != nullptr) {
                SetFocus(link_box_);
            }
            return 0;
        case WM_COMMAND:
            if (HIWORD(wparam) == EN_CHANGE && reinterpret_cast<HWND>(lparam) == link_box_ &&
                link_box_ != nullptr) {
                if (!writing_box_ && !closed_) {
                    raise_link_changed();
                }
                return 0;
            }
            break;
        case WM_CLOSE:
            close();
            return 0;
        case kDestroyWhenIdle:
            if (runs_under_way_ == 0) {
                DestroyWindow(window);
            }
            return 0;
        case WM_DESTROY:
            on_destroyed();
            return 0;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void MainWindow::create_children() {
    link_label_ = make_child(window_, 0, "STATIC", WS_CHILD | WS_VISIBLE | SS_LEFT, kLinkLabelPlace,
                             0, kLinkLabelText);
    link_box_ =
        make_child(window_, WS_EX_STATICEDGE, "EDIT", kLinkBoxStyle, kLinkBoxPlace, kLinkBoxId, {});
    if (link_box_ == nullptr) {
        return;
    }
    box_font_ = make_link_box_font();
    if (box_font_.get() != nullptr) {
        SendMessageA(link_box_, WM_SETFONT, reinterpret_cast<WPARAM>(box_font_.get()), FALSE);
    }
    // No limit: 0 lifts the default one of 32767 characters.
    SendMessageA(link_box_, EM_SETLIMITTEXT, 0, 0);
}

void MainWindow::close() {
    if (window_ == nullptr) {
        return;
    }
    if (runs_under_way_ == 0) {
        DestroyWindow(window_);
        return;
    }
    // A run is under way, somewhere inside a notice of the box: the window
    // goes out of sight now and is destroyed once the run has returned.
    closed_ = true;
    ShowWindow(window_, SW_HIDE);
}

void MainWindow::on_destroyed() {
    closed_ = true;
    window_ = nullptr;
    link_label_ = nullptr;
    link_box_ = nullptr;
    if (!destroying_quietly_) {
        PostQuitMessage(0);
    }
}

void MainWindow::raise_link_changed() {
    if (on_link_changed_) {
        // A copy, so that a handler replaced during the run stays alive to
        // its end.
        const LinkChangedHandler handler = on_link_changed_;
        CountGuard run(runs_under_way_);
        try {
            handler(*this);
        } catch (...) {
            // Nothing of a run may escape into the system's window
            // procedure; the run is over.
        }
    }
    if (runs_under_way_ == 0 && closed_ && window_ != nullptr) {
        PostMessageA(window_, kDestroyWhenIdle, 0, 0);
    }
}

int run_message_loop() {
    MSG message{};
    BOOL got = 0;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return got == 0 ? static_cast<int>(message.wParam) : 1;
}

void show_task_modal_message(std::string_view text) {
    const std::string caption(kMessageCaption);
    MessageBoxA(nullptr, Text(text).c_str(), caption.c_str(), MB_OK | MB_TASKMODAL);
}

void pump_pending_messages() {
    MSG message{};
    while (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) != 0) {
        if (message.message == WM_QUIT) {
            return;
        }
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) == 0) {
            return;
        }
        if (message.message == WM_QUIT) {
            // Came first after all: back into the queue for the loop.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

}  // namespace notepics
