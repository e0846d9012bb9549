// Files and folders of the Windows build: picture names as wide names, the
// picture written through a new file moved over the old one, the program's
// folder, and where a run saves its pictures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "download/picture_files.h"
#include "download/windows_folders.h"

namespace notepics {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// A new folder under the temporary folder, removed with what it holds.
class ScratchFolder {
  public:
    ScratchFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = fs::temp_directory_path() /
                (std::string("notepics-test-") + info->name() + "-" +
                 std::to_string(std::hash<std::string>{}(info->test_suite_name())));
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

std::vector<std::wstring> names_in(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().wstring());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

ByteBuffer bytes_of(std::string_view text) {
    return ByteBuffer(text.begin(), text.end());
}

TEST(WindowsPictureFiles, NamesAreWideNamesOfTheIdentifiers) {
    const fs::path folder = L"C:\\pictures";
    EXPECT_EQ(picture_file_path(folder, "\xD6\xD0\xCE\xC4")->wstring(),
              L"C:\\pictures\\\u4E2D\u6587.jpg");
    EXPECT_EQ(picture_file_path(folder, "\x81\x5C")->filename().wstring(), L"\u4E57.jpg");
    EXPECT_FALSE(picture_file_path(folder, "a\\b"));
}

TEST(WindowsPictureFiles, ReplaceAnOlderFileWithExactlyTheBytes) {
    ScratchFolder folder;
    const fs::path file = *picture_file_path(folder.path(), "\xD6\xD0\xCE\xC4");
    { std::ofstream(file, std::ios::binary) << "an older picture that is longer"; }
    const std::string bytes("\x89PNG\r\n\x1a\n\0\xFF tail", 15);

    EXPECT_TRUE(write_bytes_to_file(file, bytes_of(bytes)));

    EXPECT_EQ(read_file(file), bytes);
    EXPECT_THAT(names_in(folder.path()), ElementsAre(L"\u4E2D\u6587.jpg"));
}

TEST(WindowsPictureFiles, FailureLeavesTheFolderAsItWas) {
    ScratchFolder folder;
    const fs::path taken = folder.path() / L"taken.jpg";
    ASSERT_TRUE(fs::create_directory(taken));
    { std::ofstream(folder.path() / L"a", std::ios::binary) << "kept"; }
    const fs::path cases[] = {
        taken,                                  // the name is a folder
        folder.path() / L"missing" / L"a.jpg",  // the folder is missing
        folder.path() / L"a:b.jpg",             // would name a stream of the file "a"
        fs::path(),
    };
    for (const fs::path& path : cases) {
        SCOPED_TRACE(path.string());
        EXPECT_FALSE(write_bytes_to_file(path, bytes_of("new bytes")));
        EXPECT_THAT(names_in(folder.path()), ElementsAre(L"a", L"taken.jpg"));
        EXPECT_EQ(read_file(folder.path() / L"a"), "kept");
    }
}

TEST(WindowsRunDirectory, IsTheFolderOfTheRunningProgram) {
    const fs::path folder = run_directory();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(fs::equivalent(folder, NOTEPICS_TEST_BINARY_DIR));
}

TEST(WindowsPictureFolder, BesideTheProgramWhenItsFolderTakesAFile) {
    ScratchFolder folder;
    EXPECT_TRUE(can_create_file_in(folder.path()));
    EXPECT_TRUE(names_in(folder.path()).empty());  // the probe is gone
    const PictureFolder chosen = choose_picture_folder(folder.path());
    EXPECT_EQ(chosen.path, folder.path());
    EXPECT_EQ(chosen.caption_name, "");
}

TEST(WindowsPictureFolder, ElseInTheUsersPicturesFolderNamedInTheCaption) {
    ScratchFolder folder;
    const fs::path missing = folder.path() / L"missing";
    EXPECT_FALSE(can_create_file_in(missing));
    const fs::path pictures = user_pictures_folder();
    ASSERT_TRUE(pictures.is_absolute()) << pictures.string();

    const PictureFolder chosen = choose_picture_folder(missing);

    EXPECT_EQ(chosen.path, pictures / L"notepics");
    EXPECT_TRUE(fs::is_directory(chosen.path));
    // The whole path, in GBK; these folders' names are ASCII.
    EXPECT_EQ(chosen.caption_name, chosen.path.string());
}

}  // namespace
}  // namespace notepics
