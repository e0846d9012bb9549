#include "download/picture_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "sample_service.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace notepics {
namespace {

using sample::read_file;
using sample::ScratchFolder;
using sample::write_file;
using ::testing::ElementsAre;

std::vector<std::string> names_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

ByteBuffer bytes_of(std::string_view text) {
    return ByteBuffer(text.begin(), text.end());
}

struct FileNameCase {
    std::string_view label;
    std::string identifier;                // GBK
    std::optional<std::string> file_name;  // UTF-8; none: refused
};

const FileNameCase kFileNameCases[] = {
    {"plain", "1040g2sg30ptk3a1q5e005n3a9hcgc2f1l5jm6ro",
     "1040g2sg30ptk3a1q5e005n3a9hcgc2f1l5jm6ro.jpg"},
    {"empty identifier names no picture", "", std::nullopt},
    {"GBK becomes UTF-8", "\xD6\xD0\xCE\xC4", "中文.jpg"},
    {"second byte 0x5C is no backslash", "\x81\x5C", "乗.jpg"},
    {"a lone 0x80 before 0x5C", "\x80\x5C", std::nullopt},  // the converter reads "€\\"
    {"dots inside", "a..b", "a..b.jpg"},
    {"three dots", "...", "....jpg"},
    {"parent folder", "../x", std::nullopt},
    {"slash", "a/b", std::nullopt},
    {"absolute", "/etc/x", std::nullopt},
    {"backslash", "a\\b", std::nullopt},
    {"backslash alone", "\\", std::nullopt},
    {"zero byte", std::string("a\0b", 3), std::nullopt},
    {"dot", ".", std::nullopt},
    {"dot dot", "..", std::nullopt},
};

TEST(PictureFilePath, NamesOnlyAFileInTheFolder) {
    for (const FileNameCase& c : kFileNameCases) {
        SCOPED_TRACE(c.label);
        const std::optional<std::filesystem::path> path =
            picture_file_path("/pictures", c.identifier);
        if (c.file_name) {
            ASSERT_TRUE(path.has_value());
            EXPECT_EQ(*path, std::filesystem::path("/pictures") /
                                 std::u8string(c.file_name->begin(), c.file_name->end()));
        } else {
            EXPECT_FALSE(path.has_value()) << *path;
        }
    }
}

TEST(PictureFilePath, NeedsAFolder) {
    EXPECT_FALSE(picture_file_path("", "abc").has_value());
}

TEST(WriteBytesToFile, ReplacesAnOlderFileWithExactlyTheBytes) {
    ScratchFolder folder;
    const std::filesystem::path file = folder.path() / "a.jpg";
    ASSERT_TRUE(write_file(file, "an older picture that is longer"));
    const std::string bytes("\x89PNG\r\n\x1a\n\0\xFF tail", 15);

    EXPECT_TRUE(write_bytes_to_file(file, bytes_of(bytes)));

    EXPECT_EQ(read_file(file), bytes);
    EXPECT_THAT(names_in(folder.path()), ElementsAre("a.jpg"));  // nothing else left behind
}

TEST(WriteBytesToFile, NoBytesGiveAnEmptyFile) {
    ScratchFolder folder;
    const std::filesystem::path file = folder.path() / ".jpg";
    EXPECT_TRUE(write_bytes_to_file(file, {}));
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
}

TEST(WriteBytesToFile, GivesTheUsualPermissions) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows files carry no POSIX mode bits and Windows has no umask";
#else
    ScratchFolder folder;
    const std::filesystem::path file = folder.path() / "a.jpg";
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(write_bytes_to_file(file, bytes_of("x")));
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
#endif
}

TEST(WriteBytesToFile, FailureLeavesTheFolderAsItWas) {
    ScratchFolder folder;
    const std::filesystem::path taken = folder.path() / "taken.jpg";
    ASSERT_TRUE(std::filesystem::create_directory(taken));
    ASSERT_TRUE(write_file(taken / "inside", "kept"));
    struct FailureCase {
        std::string_view label;
        std::filesystem::path path;
    };
    const FailureCase cases[] = {
        {"the name is a folder", taken},
        {"the folder is missing", folder.path() / "missing" / "a.jpg"},
        {"no name", folder.path() / ""},
        {"empty path", ""},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(write_bytes_to_file(c.path, bytes_of("new bytes")));
        EXPECT_THAT(names_in(folder.path()), ElementsAre("taken.jpg"));
        EXPECT_THAT(names_in(taken), ElementsAre("inside"));
    }
}

TEST(RunDirectory, IsTheFolderOfTheRunningProgram) {
    const std::filesystem::path folder = run_directory();
    EXPECT_TRUE(folder.is_absolute());
    EXPECT_TRUE(std::filesystem::equivalent(folder, NOTEPICS_TEST_BINARY_DIR));
}

}  // namespace
}  // namespace notepics
