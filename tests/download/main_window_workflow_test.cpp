// The whole program's path: text pasted into the real window's box, the
// workflow bound to its change event, the pictures saved.
#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "download/workflow.h"
#include "sample_service.h"

namespace notepics {
namespace {

using sample::read_file;
using sample::SampleService;
using sample::ScratchFolder;
using sample::write_file;
using ::testing::ElementsAre;

TEST(MainWindowWorkflow, PastingAShareTextSavesThePicturesBesideTheProgram) {
    int argc = 1;
    char name[] = "download_window_test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    ScratchFolder served;
    ASSERT_TRUE(write_file(served.path() / "a", "picture a"));
    ASSERT_TRUE(write_file(served.path() / "b", std::string("picture b\0\xFF", 11)));
    std::string error;
    const auto service =
        SampleService::start({"--note", "n1=a,b", "--pictures", served.path().string()}, &error);
    ASSERT_TRUE(service) << error;
    ScratchFolder program;
    const WorkflowSettings settings{.web_origin = service->web_origin(),
                                    .picture_origin = service->picture_origin(),
                                    .picture_folder = program.path()};

    MainWindow window([&settings](NoteWindow& w) { on_link_changed(w, settings); });
    std::vector<std::string> captions;
    QObject::connect(&window, &QWidget::windowTitleChanged, [&captions](const QString& title) {
        captions.push_back(title.toStdString());
    });
    window.show();

    QApplication::clipboard()->setText(QString::fromStdString(service->share_text("n1")));
    window.link_box()->paste();

    EXPECT_THAT(captions,
                ElementsAre("开始下载：0/2", "正在下载：1/2", "正在下载：2/2", "下载完成"));
    EXPECT_TRUE(window.link_box()->toPlainText().isEmpty());
    EXPECT_EQ(read_file(program.path() / "a.jpg"), "picture a");
    EXPECT_EQ(read_file(program.path() / "b.jpg"), std::string("picture b\0\xFF", 11));
}

}  // namespace
}  // namespace notepics
