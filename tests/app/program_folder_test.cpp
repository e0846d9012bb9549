#include "app/program_folder.h"

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

}  // namespace
}  // namespace notepics
