// Where a run of the program saves its pictures, tried for real: a stand-in
// of the program (picture_run.cpp) is copied into a folder and run by an
// ordinary user with a scratch home, against the sample service. Run as root
// (as CI does), the test drops to the user nobody with setpriv, because root
// could write into any folder.
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sample_service.h"

namespace notepics {
namespace {

using sample::read_file;
using sample::SampleService;
using sample::ScratchFolder;
using sample::write_file;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// Who runs the program: the command put in front of it, and the user's ids.
struct OrdinaryUser {
    QStringList command_prefix;
    uid_t uid = 0;
    gid_t gid = 0;
};

// The user running the tests when that is not root; else nobody, through
// setpriv. Empty when root cannot become nobody; `why_not` then says why.
std::optional<OrdinaryUser> ordinary_user(std::string& why_not) {
    if (geteuid() != 0) {
        return OrdinaryUser{{}, geteuid(), getegid()};
    }
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        why_not = "running as root, and setpriv (util-linux) is not installed to drop privileges";
        return std::nullopt;
    }
    const QString id = QString::number(kNobody);
    const QStringList prefix = {setpriv, QStringLiteral("--reuid=") + id,
                                QStringLiteral("--regid=") + id, QStringLiteral("--clear-groups"),
                                QStringLiteral("--")};
    QProcess probe;
    probe.start(prefix.front(), prefix.mid(1) << QStringLiteral("id") << QStringLiteral("-u"));
    if (!probe.waitForFinished(60'000) || probe.exitCode() != 0 ||
        probe.readAllStandardOutput().trimmed() != id.toUtf8()) {
        why_not = "running as root, and setpriv cannot drop to user " + id.toStdString() + ": " +
                  probe.readAllStandardError().toStdString();
        return std::nullopt;
    }
    return OrdinaryUser{prefix, kNobody, kNobody};
}

std::vector<std::string> files_in(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

uid_t owner_of(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_uid : static_cast<uid_t>(-1);
}

// The program's copy lies in <scratch>/program, the user's home is
// <scratch>/home; the service serves the note n1 with the pictures a and b.
class PictureFolderOfARun : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why_not;
        user_ = ordinary_user(why_not);
        if (!user_) {
            GTEST_SKIP() << why_not;
        }
        ASSERT_FALSE(scratch_.path().empty());
        // The user must reach the folders and the program.
        fs::permissions(scratch_.path(), fs::perms(0755));
        ASSERT_TRUE(fs::create_directory(home_));
        ASSERT_EQ(::chown(home_.c_str(), user_->uid, user_->gid), 0);
        ASSERT_TRUE(fs::create_directory(program_folder_));
        ASSERT_TRUE(fs::copy_file(NOTEPICS_PICTURE_RUN, program_folder_ / "notepics"));
        fs::permissions(program_folder_ / "notepics", fs::perms(0755));

        ASSERT_TRUE(write_file(served_.path() / "a", "picture a"));
        ASSERT_TRUE(write_file(served_.path() / "b", "picture b"));
        std::string error;
        service_ = SampleService::start({"--note", "n1=a,b", "--pictures", served_.path()}, &error);
        ASSERT_TRUE(service_) << error;
    }

    void TearDown() override {
        // Writable again, so that the scratch folder can be removed.
        std::error_code ignored;
        fs::permissions(program_folder_, fs::perms(0755), ignored);
    }

    // The program folder as an installed copy's (the user cannot create a
    // file in it: a folder of root's, or the user's own without write
    // permission) or as a portable copy's (the user's own).
    void set_program_folder_writable(bool writable) {
        if (writable) {
            ASSERT_EQ(::chown(program_folder_.c_str(), user_->uid, user_->gid), 0);
            fs::permissions(program_folder_, fs::perms(0755));
        } else {
            fs::permissions(program_folder_, fs::perms(0555));
        }
    }

    // Runs the program's copy as the user on the share text of n1; the
    // captions it showed, in order (UTF-8).
    std::vector<std::string> run_program() {
        QProcessEnvironment environment;
        const QProcessEnvironment inherited = QProcessEnvironment::systemEnvironment();
        for (const QString& kept :
             {QStringLiteral("PATH"), QStringLiteral("ASAN_OPTIONS"),
              QStringLiteral("LSAN_OPTIONS"), QStringLiteral("UBSAN_OPTIONS")}) {
            if (inherited.contains(kept)) {
                environment.insert(kept, inherited.value(kept));
            }
        }
        const QString home = QString::fromStdString(home_.string());
        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));

        QProcess program;
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(QStringLiteral("/"));
        program.setProcessChannelMode(QProcess::SeparateChannels);
        QStringList command = user_->command_prefix;
        command << QString::fromStdString((program_folder_ / "notepics").string())
                << QString::fromStdString(service_->web_origin())
                << QString::fromStdString(service_->picture_origin())
                << QString::fromStdString(service_->share_text("n1"));
        program.start(command.front(), command.mid(1));
        EXPECT_TRUE(program.waitForFinished(120'000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();
        std::vector<std::string> captions;
        for (const QByteArray& line : program.readAllStandardOutput().split('\n')) {
            if (line.startsWith("caption: ")) {
                captions.push_back(line.mid(9).toStdString());
            }
        }
        return captions;
    }

    std::optional<OrdinaryUser> user_;
    ScratchFolder scratch_;
    ScratchFolder served_;
    const fs::path home_ = scratch_.path() / "home";
    const fs::path program_folder_ = scratch_.path() / "program";
    std::unique_ptr<SampleService> service_;
};

TEST_F(PictureFolderOfARun, AFolderTheUserCanWriteToKeepsThePicturesBesideTheProgram) {
    set_program_folder_writable(true);

    const std::vector<std::string> captions = run_program();

    EXPECT_THAT(captions,
                ElementsAre("开始下载：0/2", "正在下载：1/2", "正在下载：2/2", "下载完成"));
    EXPECT_THAT(files_in(program_folder_), ElementsAre("a.jpg", "b.jpg", "notepics"));
    EXPECT_EQ(read_file(program_folder_ / "a.jpg"), "picture a");
    EXPECT_EQ(owner_of(program_folder_ / "a.jpg"), user_->uid);
    EXPECT_FALSE(fs::exists(home_ / "Pictures"));
}

TEST_F(PictureFolderOfARun, AFolderTheUserCannotWriteToSendsThePicturesToPictures) {
    set_program_folder_writable(false);
    const struct {
        std::string_view label;
        std::string user_dirs;  // $XDG_CONFIG_HOME/user-dirs.dirs, if any
        fs::path folder;        // in the home folder
        std::string end_caption;
    } cases[] = {
        {"no folder settings", "", "Pictures/notepics", "下载完成 → ~/Pictures/notepics"},
        {"a pictures folder of its own", "XDG_PICTURES_DIR=\"$HOME/图片\"\n", "图片/notepics",
         "下载完成 → ~/图片/notepics"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(home_ / ".config");
        if (!c.user_dirs.empty()) {
            ASSERT_TRUE(fs::create_directory(home_ / ".config"));
            ASSERT_TRUE(write_file(home_ / ".config" / "user-dirs.dirs", c.user_dirs));
        }

        const std::vector<std::string> captions = run_program();

        EXPECT_THAT(captions,
                    ElementsAre("开始下载：0/2", "正在下载：1/2", "正在下载：2/2", c.end_caption));
        const fs::path folder = home_ / c.folder;
        EXPECT_THAT(files_in(folder), ElementsAre("a.jpg", "b.jpg"));
        EXPECT_EQ(read_file(folder / "b.jpg"), "picture b");
        EXPECT_EQ(owner_of(folder), user_->uid);
        EXPECT_EQ(owner_of(folder / "a.jpg"), user_->uid);
        EXPECT_THAT(files_in(program_folder_), ElementsAre("notepics"));
    }
}

TEST_F(PictureFolderOfARun, APicturesFolderThatCannotBeMadeCountsEveryPictureAsFailed) {
    set_program_folder_writable(false);
    // The home folder is the user's no longer: nothing can be made in it.
    fs::permissions(home_, fs::perms(0555));

    const std::vector<std::string> captions = run_program();
    fs::permissions(home_, fs::perms(0700));

    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.back(), "下载完成，失败 2/2 → ~/Pictures/notepics");
    EXPECT_THAT(files_in(home_), IsEmpty());
    EXPECT_THAT(files_in(program_folder_), ElementsAre("notepics"));
}

}  // namespace
}  // namespace notepics
