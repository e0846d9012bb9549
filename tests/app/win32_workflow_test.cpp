// The Windows window running the download workflow against the sample
// service, and the program's folder at start-up. The service runs on the
// Linux side (wine shares 127.0.0.1); tests/app/wine_window_test.py starts
// it and describes it in the environment:
//   NOTEPICS_SAMPLE_WEB_ORIGIN, NOTEPICS_SAMPLE_PICTURE_ORIGIN
//   NOTEPICS_SAMPLE_SHARE_TEXT        share text of a note with pictures (UTF-8)
//   NOTEPICS_SAMPLE_EMPTY_SHARE_TEXT  share text of a note without any (UTF-8)
//   NOTEPICS_SAMPLE_PICTURES          its identifiers, comma-separated
//   NOTEPICS_SAMPLE_PICTURE_DIR       folder holding each picture as <identifier>
// Without them the service tests are skipped.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_win32.h"
#include "app/program_folder_win32.h"
#include "download/workflow.h"

namespace notepics {
namespace {

// "by：Tuvelko"
const Text kInitialCaption = "by\xA3\xBATuvelko";
// "信息："
const Text kMessageCaption = "\xD0\xC5\xCF\xA2\xA3\xBA";
// "地址错误或软件失效"
const Text kWrongAddressMessage =
    "\xB5\xD8\xD6\xB7\xB4\xED\xCE\xF3\xBB\xF2\xC8\xED\xBC\xFE\xCA\xA7\xD0\xA7";
// "开始下载：0/", "正在下载：", "下载完成"
const Text kStartCaption =
    "\xBF\xAA\xCA\xBC\xCF\xC2\xD4\xD8\xA3\xBA"
    "0/";
const Text kDownloadingCaption = "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xA3\xBA";
const Text kDoneCaption = "\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9";

// An environment variable as the system holds it, in UTF-16.
std::wstring environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

Text gbk(std::wstring_view text) {
    const int length = WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    Text result(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    WideCharToMultiByte(936, 0, text.data(), static_cast<int>(text.size()), result.data(), length,
                        nullptr, nullptr);
    return result;
}

std::string file_bytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Text window_text(HWND window) {
    char text[1024] = {};
    const int length = GetWindowTextA(window, text, sizeof text);
    return Text(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

struct SampleService {
    Text web_origin;
    Text picture_origin;
    Text share_text;
    Text empty_share_text;
    std::vector<std::string> pictures;
    std::filesystem::path picture_dir;
};

std::optional<SampleService> sample_service() {
    SampleService service;
    service.web_origin = gbk(environment(L"NOTEPICS_SAMPLE_WEB_ORIGIN"));
    service.picture_origin = gbk(environment(L"NOTEPICS_SAMPLE_PICTURE_ORIGIN"));
    service.share_text = gbk(environment(L"NOTEPICS_SAMPLE_SHARE_TEXT"));
    service.empty_share_text = gbk(environment(L"NOTEPICS_SAMPLE_EMPTY_SHARE_TEXT"));
    const std::string pictures = gbk(environment(L"NOTEPICS_SAMPLE_PICTURES"));
    for (std::size_t start = 0; start < pictures.size();) {
        const std::size_t comma = std::min(pictures.find(',', start), pictures.size());
        service.pictures.push_back(pictures.substr(start, comma - start));
        start = comma + 1;
    }
    service.picture_dir = environment(L"NOTEPICS_SAMPLE_PICTURE_DIR");
    if (service.web_origin.empty() || service.share_text.empty() || service.pictures.empty()) {
        return std::nullopt;
    }
    return service;
}

// A fresh empty folder under the temporary folder.
std::filesystem::path scratch_folder(std::wstring_view name) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::filesystem::path folder =
        std::filesystem::path(temp) /
        (std::wstring(name) + L"-" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directories(folder);
    return folder;
}

void paste(HWND box, std::string_view text) {
    ASSERT_TRUE(OpenClipboard(GetParent(box)));
    EmptyClipboard();
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    ASSERT_NE(memory, nullptr);
    auto* bytes = static_cast<char*>(GlobalLock(memory));
    std::copy(text.begin(), text.end(), bytes);
    bytes[text.size()] = '\0';
    GlobalUnlock(memory);
    ASSERT_NE(SetClipboardData(CF_TEXT, memory), nullptr);
    CloseClipboard();
    SendMessageA(box, WM_PASTE, 0, 0);
}

// The user in front of the screen: dismisses every message box of the
// program with OK and notes its text, so that no run waits for ever.
class MessageBoxUser {
  public:
    MessageBoxUser()
        : thread_([this] {
              while (!stop_) {
                  const HWND box = FindWindowA("#32770", kMessageCaption.c_str());
                  if (box != nullptr && IsWindowVisible(box)) {
                      const Text text = window_text(GetDlgItem(box, 0xFFFF));
                      {
                          const std::lock_guard<std::mutex> lock(mutex_);
                          messages_.push_back(text);
                      }
                      SendMessageA(box, WM_COMMAND, IDOK, 0);
                  }
                  Sleep(20);
              }
          }) {}
    ~MessageBoxUser() {
        stop_ = true;
        thread_.join();
    }
    MessageBoxUser(const MessageBoxUser&) = delete;
    MessageBoxUser& operator=(const MessageBoxUser&) = delete;

    std::vector<Text> messages() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

  private:
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Text> messages_;
    std::thread thread_;
};

// Passes every call on to the window and notes the captions.
class CaptionRecorder final : public NoteWindow {
  public:
    CaptionRecorder(NoteWindow& window, std::vector<Text>& captions)
        : window_(window), captions_(captions) {}

    Text link_text() override { return window_.link_text(); }
    void set_link_text(std::string_view text) override { window_.set_link_text(text); }
    void set_caption(std::string_view text) override {
        captions_.emplace_back(text);
        window_.set_caption(text);
    }
    void show_message(std::string_view text) override { window_.show_message(text); }
    void process_pending_messages() override { window_.process_pending_messages(); }

  private:
    NoteWindow& window_;
    std::vector<Text>& captions_;
};

class Win32Workflow : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 936u) << "run with a Chinese locale";
        const std::optional<SampleService> found = sample_service();
        if (!found) {
            GTEST_SKIP() << "no sample service described in the environment";
        }
        service_ = *found;
        settings_.web_origin = service_.web_origin;
        settings_.picture_origin = service_.picture_origin;
        settings_.picture_folder = scratch_folder(L"notepics-pictures");
    }

    SampleService service_;
    WorkflowSettings settings_;
};

TEST_F(Win32Workflow, PastedShareTextSavesEveryPictureAndClearsTheBox) {
    std::vector<Text> captions;
    int runs = 0;
    MainWindow window([&](NoteWindow& w) {
        ++runs;
        CaptionRecorder recorder(w, captions);
        on_link_changed(recorder, settings_);
    });
    window.show();
    MessageBoxUser user;
    paste(window.link_box(), service_.share_text);
    EXPECT_EQ(user.messages(), std::vector<Text>{});

    const std::string count = std::to_string(service_.pictures.size());
    std::vector<Text> expected = {kStartCaption + count};
    for (std::size_t i = 1; i <= service_.pictures.size(); ++i) {
        expected.push_back(kDownloadingCaption + std::to_string(i) + "/" + count);
    }
    expected.push_back(kDoneCaption);
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(window_text(window.handle()), kDoneCaption);
    // The paste, and the clearing of the box at the end.
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(window.link_text(), "");
    for (const std::string& picture : service_.pictures) {
        SCOPED_TRACE(picture);
        const std::filesystem::path saved = settings_.picture_folder / (picture + ".jpg");
        ASSERT_TRUE(std::filesystem::exists(saved));
        EXPECT_EQ(file_bytes(saved), file_bytes(service_.picture_dir / picture));
    }
}

TEST_F(Win32Workflow, NoteWithoutPicturesShowsTheMessageAndKeepsTheBox) {
    MainWindow window([&](NoteWindow& w) { on_link_changed(w, settings_); });
    window.show();
    MessageBoxUser user;
    paste(window.link_box(), service_.empty_share_text);
    EXPECT_EQ(user.messages(), std::vector<Text>{kWrongAddressMessage});
    EXPECT_EQ(window_text(window.handle()), kInitialCaption);
    EXPECT_EQ(window.link_text(), service_.empty_share_text);
    EXPECT_TRUE(std::filesystem::is_empty(settings_.picture_folder));
}

TEST(Win32ProgramFolder, BecomesTheCurrentDirectory) {
    wchar_t file[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, file, MAX_PATH);
    SetCurrentDirectoryW(L"C:\\");
    ASSERT_TRUE(enter_program_folder());
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(file).parent_path());
}

}  // namespace
}  // namespace notepics
