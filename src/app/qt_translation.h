// The texts that come from the toolkit itself (the message box's button, the
// link box's context menu) in Chinese, like every text of the window, whatever
// the user's locale.
//
//   QApplication app(argc, argv);
//   const std::unique_ptr<QTranslator> chinese = install_qt_chinese_translation();
//   // a message box's OK button now reads "确定"
#pragma once

#include <QTranslator>

#include <memory>

namespace notepics {

// Loads the toolkit's own zh_CN translation (qtbase_zh_CN, from the
// toolkit's translation folder) into the application object, which must
// exist. The translation stays in use while the returned object lives. Null
// when the translation is not installed; the toolkit's texts then stay in
// English.
std::unique_ptr<QTranslator> install_qt_chinese_translation();

}  // namespace notepics
