#include "app/program_folder.h"

#include <QDir>
#include <QString>

#include <gtest/gtest.h>

#include <filesystem>

namespace notepics {
namespace {

TEST(ProgramFolder, BecomesCurrentDirectory) {
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
    std::filesystem::current_path(std::filesystem::temp_directory_path());

    EXPECT_TRUE(enter_program_folder());
    EXPECT_EQ(std::filesystem::current_path(), program.parent_path());
}

TEST(ProgramFolder, HomeIsWrittenAsTilde) {
    const struct {
        const char* path;
        const char* home;
        const char* shown;
    } cases[] = {
        {"/home/ann/Pictures/notepics", "/home/ann", "~/Pictures/notepics"},
        {"/home/ann/Pictures/notepics", "/home/ann/", "~/Pictures/notepics"},
        {"/home/ann", "/home/ann", "~"},
        {"/home/anna/Pictures", "/home/ann", "/home/anna/Pictures"},
        {"/srv/pictures/notepics", "/home/ann", "/srv/pictures/notepics"},
        {"/srv/pictures", "/", "/srv/pictures"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(home_as_tilde(QString::fromUtf8(c.path), QString::fromUtf8(c.home)),
                  QString::fromUtf8(c.shown))
            << c.path << " under " << c.home;
    }
}

// The folder of this test program is the user's own (a build folder): the
// pictures stay beside the program and the caption names no folder. The
// probe leaves nothing behind.
TEST(ProgramFolder, AWritableProgramFolderIsTheRunsPictureFolder) {
    const std::filesystem::path program_folder =
        std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(program_folder),
                             std::filesystem::directory_iterator());
    };
    const auto entries_before = entries();

    const WorkflowSettings settings = program_workflow_settings();
    ASSERT_TRUE(settings.choose_picture_folder);
    const PictureFolder folder = settings.choose_picture_folder();

    EXPECT_EQ(folder.path, program_folder);
    EXPECT_EQ(folder.caption_name, "");
    EXPECT_EQ(entries(), entries_before);
}

TEST(ProgramFolder, AFolderThatIsNotThereCannotTakeAFile) {
    EXPECT_FALSE(can_create_file_in(QStringLiteral("/nonexistent-notepics-folder")));
    EXPECT_FALSE(can_create_file_in(QString()));
    EXPECT_TRUE(can_create_file_in(QDir::tempPath()));
}

}  // namespace
}  // namespace notepics
