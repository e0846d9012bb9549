#include "app/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QString>

namespace notepics {

std::unique_ptr<QTranslator> install_qt_chinese_translation() {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get())) {
        return nullptr;
    }
    return translator;
}

}  // namespace notepics
