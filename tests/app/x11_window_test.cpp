// The window as the X server and the window manager see it. Runs under
// xvfb-run with openbox (scripts/with-openbox) on the xcb platform; the
// server is inspected with xprop and xwininfo, separate clients, so what
// they report has really reached the server.
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/qt_text.h"
#include "download/workflow.h"
#include "x11_client.h"

namespace notepics {
namespace {

using testing::HasSubstr;
using testing::Not;

struct PipeCloser {
    void operator()(FILE* pipe) const { pclose(pipe); }
};

// Standard output of a shell command, run to its end.
std::string run_command(const std::string& command) {
    std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
    if (!pipe) {
        return {};
    }
    std::string output;
    char chunk[512];
    std::size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0) {
        output.append(chunk, read);
    }
    return output;
}

std::string xprop(unsigned long window, const std::string& properties) {
    return run_command("LC_ALL=C.UTF-8 xprop -id " + std::to_string(window) + " " + properties);
}

// The numbers of a line "NAME... = a, b, c" of xprop, or of "Label: n" of
// xwininfo.
std::vector<int> numbers_after(const std::string& output, const std::string& label) {
    const std::size_t at = output.find(label);
    std::vector<int> numbers;
    if (at == std::string::npos) {
        return numbers;
    }
    const std::string line = output.substr(at + label.size(), output.find('\n', at) - at);
    static const std::regex number("-?[0-9]+");
    for (auto it = std::sregex_iterator(line.begin(), line.end(), number);
         it != std::sregex_iterator(); ++it) {
        numbers.push_back(std::stoi(it->str()));
    }
    return numbers;
}

void show_and_wait(MainWindow& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

TEST(MainWindowOnX11, CaptionReachesServerWhileHandlerBlocks) {
    struct Case {
        Text caption;
        std::string utf8;
        std::string legacy_encoding;  // of WM_NAME
    };
    const std::vector<Case> cases = {
        // "正在下载：3/7"
        {"\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xA3\xBA"
         "3/7",
         "正在下载：3/7", "COMPOUND_TEXT"},
        {"plain 12", "plain 12", "STRING"},
        // "下载完成"
        {"\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9", "下载完成", "COMPOUND_TEXT"},
    };
    MainWindow window;
    show_and_wait(window);
    const unsigned long id = window.winId();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::string seen;
        // The handler asks the server while it still holds up the event loop.
        window.set_link_changed_handler([&](NoteWindow& w) {
            w.set_caption(c.caption);
            seen = xprop(id, "WM_NAME _NET_WM_NAME");
        });
        window.set_link_text("x");
        const std::string expected = "WM_NAME(" + c.legacy_encoding + ") = \"" + c.utf8 +
                                     "\"\n_NET_WM_NAME(UTF8_STRING) = \"" + c.utf8 + "\"\n";
        EXPECT_EQ(seen, expected);
    }
}

TEST(MainWindowOnX11, FrameIsFixedAt331By84AndCentred) {
    MainWindow window;
    show_and_wait(window);
    const bool fitted =
        QTest::qWaitFor([&] { return window.frameGeometry().size() == QSize(331, 84); });
    ASSERT_TRUE(fitted) << "frame " << window.frameGeometry().width() << "x"
                        << window.frameGeometry().height();
    QCoreApplication::processEvents();

    const unsigned long id = window.winId();
    const std::vector<int> extents = numbers_after(xprop(id, "_NET_FRAME_EXTENTS"), "= ");
    ASSERT_EQ(extents.size(), 4u);  // left, right, top, bottom
    EXPECT_GT(extents[2], 0);       // a title bar
    const std::string info = run_command("xwininfo -id " + std::to_string(id));
    const std::vector<int> width = numbers_after(info, "Width:");
    const std::vector<int> height = numbers_after(info, "Height:");
    const std::vector<int> left = numbers_after(info, "Absolute upper-left X:");
    const std::vector<int> top = numbers_after(info, "Absolute upper-left Y:");
    ASSERT_FALSE(width.empty() || height.empty() || left.empty() || top.empty()) << info;
    EXPECT_EQ(width[0] + extents[0] + extents[1], 331);
    EXPECT_EQ(height[0] + extents[2] + extents[3], 84);

    const QRect screen = window.screen()->availableGeometry();
    EXPECT_NEAR(left[0] - extents[0], screen.x() + (screen.width() - 331) / 2, 1);
    EXPECT_NEAR(top[0] - extents[2], screen.y() + (screen.height() - 84) / 2, 1);

    // The window manager offers moving, minimising and closing, but neither
    // resizing nor maximising.
    const std::string hints = xprop(id, "WM_NORMAL_HINTS");
    const std::vector<int> minimum = numbers_after(hints, "minimum size:");
    ASSERT_EQ(minimum.size(), 2u) << hints;
    EXPECT_EQ(minimum, numbers_after(hints, "maximum size:"));
    const std::string actions = xprop(id, "_NET_WM_ALLOWED_ACTIONS");
    EXPECT_THAT(actions, HasSubstr("_NET_WM_ACTION_MOVE"));
    EXPECT_THAT(actions, HasSubstr("_NET_WM_ACTION_MINIMIZE"));
    EXPECT_THAT(actions, HasSubstr("_NET_WM_ACTION_CLOSE"));
    EXPECT_THAT(actions, Not(HasSubstr("_NET_WM_ACTION_RESIZE")));
    EXPECT_THAT(actions, Not(HasSubstr("_NET_WM_ACTION_MAXIMIZE")));
}

// The end caption of a run that saved every picture into the pictures
// folder names that folder and still fits the title bar that openbox gives
// the 331-pixel window. Openbox's standard configuration draws the caption in
// sans, 8 points, bold (11 pixels at 96 dpi, rounded up); its standard theme
// leaves the caption 219 pixels between the window's icon on the left and
// the minimise, maximise and close buttons on the right (measured on a
// screenshot: a longer caption is cut in the middle). With failures counted
// ("下载完成，失败 1/4 → ~/Pictures/notepics") the caption is longer than that, and
// openbox shows its beginning and end.
TEST(MainWindowOnX11, EndCaptionNamingThePicturesFolderFitsTheTitleBar) {
    constexpr int kCaptionRoom = 219;
    MainWindow window;
    show_and_wait(window);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.frameGeometry().size() == QSize(331, 84); }));
    const std::vector<int> extents =
        numbers_after(xprop(window.winId(), "_NET_FRAME_EXTENTS"), "= ");
    ASSERT_EQ(extents.size(), 4u);
    // The frame the room was measured in: a 1-pixel border, a 20-pixel bar.
    ASSERT_EQ(extents, (std::vector<int>{1, 1, 20, 1}));

    QFont title_font(QStringLiteral("sans"));
    title_font.setPixelSize(11);
    title_font.setBold(true);
    const QFontMetrics metrics(title_font);
    const struct {
        int failed;
        int count;
        std::string_view folder;
    } cases[] = {
        {0, 99, "~/Pictures/notepics"},
        {0, 99, "~/\xCD\xBC\xC6\xAC/notepics"},  // ~/图片/notepics
        {1, 4, "~/\xCD\xBC\xC6\xAC/notepics"},
    };
    for (const auto& c : cases) {
        const Text caption = end_caption(c.failed, c.count, c.folder);
        const QString shown = to_qstring(caption);
        EXPECT_LE(metrics.horizontalAdvance(shown), kCaptionRoom) << shown.toStdString();
        window.set_caption(caption);
        EXPECT_THAT(xprop(window.winId(), "_NET_WM_NAME"),
                    HasSubstr("= \"" + shown.toStdString() + "\""));
    }
}

// Run on a server without a window manager (see CMakeLists.txt).
TEST(MainWindowWithoutWindowManager, IsItsOuterSizeAndCentred) {
    MainWindow window;
    show_and_wait(window);
    QCoreApplication::processEvents();

    const std::string info = run_command("xwininfo -id " + std::to_string(window.winId()));
    const QRect screen = window.screen()->geometry();
    EXPECT_EQ(numbers_after(info, "Width:"), std::vector<int>{331});
    EXPECT_EQ(numbers_after(info, "Height:"), std::vector<int>{84});
    EXPECT_EQ(numbers_after(info, "Absolute upper-left X:"),
              std::vector<int>{screen.x() + (screen.width() - 331) / 2});
    EXPECT_EQ(numbers_after(info, "Absolute upper-left Y:"),
              std::vector<int>{screen.y() + (screen.height() - 84) / 2});
}

// The client window of process `pid`, 0 while it has none.
unsigned long window_of_process(qint64 pid) {
    const std::string clients = run_command("xprop -root _NET_CLIENT_LIST");
    static const std::regex id("0x[0-9a-fA-F]+");
    for (auto it = std::sregex_iterator(clients.begin(), clients.end(), id);
         it != std::sregex_iterator(); ++it) {
        const unsigned long window = std::stoul(it->str(), nullptr, 16);
        const std::vector<int> owner = numbers_after(xprop(window, "_NET_WM_PID"), "= ");
        if (owner.size() == 1 && owner[0] == pid) {
            return window;
        }
    }
    return 0;
}

TEST(ProgramOnX11, StartsInItsFolderAndExitsWithZeroWhenClosed) {
    const std::filesystem::path program = NOTEPICS_EXECUTABLE;
    QProcess process;
    process.setWorkingDirectory(QStringLiteral("/"));
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(QString::fromStdString(program.string()), {});
    ASSERT_TRUE(process.waitForStarted());

    unsigned long window = 0;
    const bool shown = QTest::qWaitFor([&] {
        window = window_of_process(process.processId());
        return window != 0;
    });
    ASSERT_TRUE(shown);
    EXPECT_EQ(
        std::filesystem::read_symlink("/proc/" + std::to_string(process.processId()) + "/cwd"),
        program.parent_path());
    EXPECT_THAT(xprop(window, "_NET_WM_NAME"), HasSubstr("= \"by：Tuvelko\""));

    ASSERT_TRUE(request_close(window));
    ASSERT_TRUE(process.waitForFinished());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}

}  // namespace
}  // namespace notepics
