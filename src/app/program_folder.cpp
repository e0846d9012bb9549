#include "app/program_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QString>

namespace notepics {

bool enter_program_folder() {
    const QString folder = QCoreApplication::applicationDirPath();
    return !folder.isEmpty() && QDir::setCurrent(folder);
}

}  // namespace notepics
