#include "app/program_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryFile>

#include "app/qt_text.h"

namespace notepics {
namespace {

// The folder under the user's pictures folder that an installed copy saves
// into.
constexpr QStringView kPicturesSubfolder = u"notepics";

std::filesystem::path to_path(const QString& folder) {
    return std::filesystem::path(QFile::encodeName(QDir::cleanPath(folder)).toStdString());
}

}  // namespace

bool enter_program_folder() {
    const QString folder = QCoreApplication::applicationDirPath();
    return !folder.isEmpty() && QDir::setCurrent(folder);
}

bool can_create_file_in(const QString& folder) {
    if (folder.isEmpty()) {
        return false;
    }
    // The same kind of file a picture is first written as: a new hidden file
    // beside the others. QTemporaryFile creates it exclusively and removes it.
    QTemporaryFile probe(folder + QStringLiteral("/.notepics-probe-XXXXXX"));
    return probe.open();
}

QString home_as_tilde(const QString& path, const QString& home) {
    const QString clean_path = QDir::cleanPath(path);
    const QString clean_home = QDir::cleanPath(home);
    if (clean_home.isEmpty() || clean_home == QStringLiteral("/")) {
        return clean_path;
    }
    if (clean_path == clean_home) {
        return QStringLiteral("~");
    }
    if (clean_path.startsWith(clean_home + QLatin1Char('/'))) {
        return QStringLiteral("~") + clean_path.mid(clean_home.size());
    }
    return clean_path;
}

PictureFolder choose_picture_folder(const QString& program_folder) {
    if (can_create_file_in(program_folder)) {
        return {to_path(program_folder), Text()};
    }
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (pictures.isEmpty()) {
        // Nowhere else to go: the pictures fail in the program's folder and
        // the caption counts them.
        return {to_path(program_folder), Text()};
    }
    const QString folder = QDir(pictures).filePath(kPicturesSubfolder.toString());
    // A folder that cannot be made shows up as failed pictures, with the
    // caption naming where they were meant to go.
    QDir().mkpath(folder);
    return {to_path(folder), to_text(home_as_tilde(folder, QDir::homePath()))};
}

PictureFolder choose_picture_folder() {
    return choose_picture_folder(QCoreApplication::applicationDirPath());
}

WorkflowSettings program_workflow_settings() {
    WorkflowSettings settings;
    settings.choose_picture_folder = [] { return choose_picture_folder(); };
    return settings;
}

}  // namespace notepics
