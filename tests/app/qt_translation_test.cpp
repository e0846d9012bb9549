#include "app/qt_translation.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

#include "app/main_window.h"

namespace notepics {
namespace {

// The toolkit's own texts in the window read Chinese in an English locale.
TEST(QtChineseTranslation, MessageBoxButtonAndContextMenuReadChinese) {
    const QLocale saved_locale;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const std::unique_ptr<QTranslator> chinese = install_qt_chinese_translation();
    QLocale::setDefault(saved_locale);
    ASSERT_NE(chinese, nullptr) << "qtbase_zh_CN is not installed (package qt6-translations-l10n)";

    MainWindow window;
    QString button_text;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        button_text = box->button(QMessageBox::Ok)->text();
        box->button(QMessageBox::Ok)->click();
    });
    window.show_message("x");
    EXPECT_EQ(button_text, QStringLiteral("确定"));

    window.link_box()->setPlainText(QStringLiteral("http://x"));
    window.link_box()->selectAll();
    const std::unique_ptr<QMenu> menu(window.link_box()->createStandardContextMenu());
    QStringList entries;
    for (const QAction* action : menu->actions()) {
        entries << action->text();
    }
    EXPECT_TRUE(entries.join(u' ').contains(QStringLiteral("复制")))
        << entries.join(u' ').toStdString();
}

// The window's icon is an SVG picture: the toolkit must be able to draw it.
TEST(ProgramIcon, DrawsFromItsSvgFile) {
    const QIcon icon(QStringLiteral(NOTEPICS_ICON_FILE));
    for (const int size : {16, 32, 256}) {
        EXPECT_FALSE(icon.pixmap(QSize(size, size)).isNull()) << size;
    }
}

}  // namespace
}  // namespace notepics
