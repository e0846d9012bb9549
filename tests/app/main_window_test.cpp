#include "app/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/qt_text.h"

namespace notepics {
namespace {

// Records every run of the handler: the box text it saw.
struct RunLog {
    std::vector<Text> seen;
    LinkChangedHandler handler() {
        return [this](NoteWindow& window) { seen.push_back(window.link_text()); };
    }
};

void show_and_wait(MainWindow& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

TEST(MainWindowLayout, ShowsCaptionLabelAndEmptyBox) {
    MainWindow window;
    show_and_wait(window);

    EXPECT_EQ(window.windowTitle(), QStringLiteral("by：Tuvelko"));
    EXPECT_EQ(window.windowHandle()->title(), QStringLiteral("by：Tuvelko"));
    EXPECT_EQ(window.link_label()->text(), QStringLiteral("链  接："));
    EXPECT_EQ(window.link_label()->geometry(), QRect(8, 8, 56, 24));
    EXPECT_EQ(window.link_box()->geometry(), QRect(64, 8, 256, 40));
    EXPECT_TRUE(window.link_box()->toPlainText().isEmpty());
    EXPECT_EQ(window.link_text(), "");
}

TEST(MainWindowLayout, IsFixedSizeCentredMinimisableNotMaximisable) {
    MainWindow window;
    show_and_wait(window);

    // The offscreen platform draws no frame: the window is its outer size.
    EXPECT_EQ(window.frameGeometry().size(), QSize(331, 84));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_EQ(window.frameGeometry().topLeft(), QPoint(screen.x() + (screen.width() - 331) / 2,
                                                       screen.y() + (screen.height() - 84) / 2));

    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(window.autoFillBackground());
    EXPECT_EQ(window.palette().color(QPalette::Window), window.palette().color(QPalette::Button));
}

TEST(MainWindowLayout, BoxIsBlackOnWhiteWithoutScrollBarsAndPicksNoFace) {
    MainWindow window;
    const QPlainTextEdit* box = window.link_box();

    EXPECT_EQ(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(box->frameShape(), QFrame::Panel);
    EXPECT_EQ(box->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(box->lineWidth(), 1);
    EXPECT_EQ(box->maximumBlockCount(), 0);
    EXPECT_FALSE(box->isReadOnly());
    EXPECT_EQ(box->palette().color(QPalette::Active, QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(box->palette().color(QPalette::Active, QPalette::Text), QColor(Qt::black));
    EXPECT_EQ(box->font().pixelSize(), 12);
    EXPECT_EQ(box->font().weight(), QFont::Normal);
    EXPECT_FALSE(box->font().resolveMask() & QFont::FamiliesResolved);
    EXPECT_FALSE(box->font().resolveMask() & QFont::FamilyResolved);
}

TEST(MainWindowLayout, BoxWrapsLongTextAndScrollsUpWhenFull) {
    MainWindow window;
    show_and_wait(window);
    QPlainTextEdit* box = window.link_box();

    const std::string long_word(200, 'x');
    window.set_link_text(long_word);
    QCoreApplication::processEvents();
    EXPECT_EQ(box->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(box->document()->firstBlock().layout()->lineCount(), 1);

    box->setFocus();
    box->moveCursor(QTextCursor::End);
    for (int line = 0; line < 6; ++line) {
        QTest::keyClick(box, Qt::Key_Return);
        QTest::keyClick(box, Qt::Key_Z);
    }
    QCoreApplication::processEvents();
    EXPECT_GT(box->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(box->cursorRect().intersects(box->viewport()->rect()));
}

// One user action on the box, the box text after it, and whether it
// changed the text (and so raised one change).
struct Edit {
    const char* what;
    std::function<void(QPlainTextEdit*)> act;
    Text text_after;
    bool changes = true;
};

void type_committed(QPlainTextEdit* box, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QCoreApplication::sendEvent(box, &event);
}

// An input method shows what is being composed, not yet in the text.
void compose(QPlainTextEdit* box, const QString& composition) {
    QInputMethodEvent event(composition, {});
    QCoreApplication::sendEvent(box, &event);
}

TEST(MainWindowEvents, RaisesOneChangePerUserEdit) {
    // "链" and "接" in GBK.
    const std::vector<Edit> edits = {
        {"type a", [](QPlainTextEdit* b) { QTest::keyClick(b, Qt::Key_A); }, "a"},
        {"type b", [](QPlainTextEdit* b) { QTest::keyClick(b, Qt::Key_B); }, "ab"},
        {"backspace", [](QPlainTextEdit* b) { QTest::keyClick(b, Qt::Key_Backspace); }, "a"},
        {"compose", [](QPlainTextEdit* b) { compose(b, QStringLiteral("l")); }, "a", false},
        {"compose further", [](QPlainTextEdit* b) { compose(b, QStringLiteral("lian")); }, "a",
         false},
        {"commit a Chinese character",
         [](QPlainTextEdit* b) { type_committed(b, QStringLiteral("链")); }, "a\xC1\xB4"},
        {"compose and cancel",
         [](QPlainTextEdit* b) {
             compose(b, QStringLiteral("x"));
             compose(b, QString());
         },
         "a\xC1\xB4", false},
        {"enter", [](QPlainTextEdit* b) { QTest::keyClick(b, Qt::Key_Return); }, "a\xC1\xB4\n"},
        {"paste",
         [](QPlainTextEdit* b) {
             QGuiApplication::clipboard()->setText(QStringLiteral("接x"));
             QTest::keyClick(b, Qt::Key_V, Qt::ControlModifier);
         },
         "a\xC1\xB4\n\xBD\xD3x"},
        {"undo the paste",
         [](QPlainTextEdit* b) { QTest::keyClick(b, Qt::Key_Z, Qt::ControlModifier); },
         "a\xC1\xB4\n"},
        {"select all and cut",
         [](QPlainTextEdit* b) {
             b->selectAll();
             QTest::keyClick(b, Qt::Key_X, Qt::ControlModifier);
         },
         ""},
    };

    RunLog log;
    MainWindow window(log.handler());
    show_and_wait(window);
    window.link_box()->setFocus();

    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        const std::size_t before = log.seen.size();
        edit.act(window.link_box());
        QCoreApplication::processEvents();
        EXPECT_EQ(window.link_text(), edit.text_after);
        ASSERT_EQ(log.seen.size(), before + (edit.changes ? 1 : 0));
        if (edit.changes) {
            EXPECT_EQ(log.seen.back(), edit.text_after);
        }
    }
}

TEST(MainWindowEvents, EditThatChangesNothingRaisesNothing) {
    RunLog log;
    MainWindow window(log.handler());
    show_and_wait(window);
    window.link_box()->setFocus();

    QTest::keyClick(window.link_box(), Qt::Key_Backspace);
    QTest::keyClick(window.link_box(), Qt::Key_Left);
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.seen.empty());
}

TEST(MainWindowEvents, SetLinkTextRaisesExactlyOneChangeSynchronously) {
    struct Case {
        const char* what;
        Text old_text;
        Text new_text;
        Text read_back;
    };
    const std::vector<Case> cases = {
        {"empty to text", "", "http://a", "http://a"},
        {"same text again", "http://a", "http://a", "http://a"},
        {"text to empty", "http://a", "", ""},
        {"empty to empty", "", "", ""},
        {"Chinese share text", "x", "\xC1\xB4\xBD\xD3 http://b\xA3\xAC",
         "\xC1\xB4\xBD\xD3 http://b\xA3\xAC"},
        {"CRLF reads back as LF", "", "a\r\nb", "a\nb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunLog log;
        MainWindow window;
        window.set_link_text(c.old_text);
        window.set_link_changed_handler(log.handler());

        window.set_link_text(c.new_text);
        ASSERT_EQ(log.seen.size(), 1u);
        EXPECT_EQ(log.seen[0], c.read_back);
        EXPECT_EQ(window.link_text(), c.read_back);

        QCoreApplication::processEvents();
        EXPECT_EQ(log.seen.size(), 1u);
    }
}

TEST(MainWindowEvents, NestedChangeFinishesBeforeOuterHandlerContinues) {
    std::vector<std::string> trace;
    int depth = 0;
    MainWindow window;
    show_and_wait(window);
    window.link_box()->setFocus();
    window.set_link_changed_handler([&](NoteWindow& w) {
        const Text text = w.link_text();
        ++depth;
        trace.push_back("begin " + text + " at depth " + std::to_string(depth));
        if (text == "a") {
            // The user types at the end of the text while the run waits for
            // the network.
            window.link_box()->moveCursor(QTextCursor::End);
            QCoreApplication::postEvent(
                window.link_box(),
                new QKeyEvent(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b")));
            w.process_pending_messages();
            w.set_caption("outer");
        } else if (text == "ab") {
            w.set_caption("nested");
            w.set_link_text("");  // a run clears the box at its end
        }
        trace.push_back("end " + text);
        --depth;
    });

    window.set_link_text("a");

    const std::vector<std::string> expected = {
        "begin a at depth 1", "begin ab at depth 2", "begin  at depth 3", "end ", "end ab", "end a",
    };
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(window.windowTitle(), QStringLiteral("outer"));  // the last writer wins
    EXPECT_EQ(window.link_text(), "");
}

TEST(MainWindowCaption, ShowsTextExactlyAsWritten) {
    struct Case {
        Text caption;
        QString shown;
    };
    const std::vector<Case> cases = {
        {"\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xA3\xBA"
         "3/7",
         QStringLiteral("正在下载：3/7")},
        {"\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9", QStringLiteral("下载完成")},
        {"a[*]b", QStringLiteral("a[*]b")},
        {"[*][*]", QStringLiteral("[*][*]")},
    };
    MainWindow window;
    show_and_wait(window);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown.toStdString());
        window.set_caption(c.caption);
        EXPECT_EQ(window.windowHandle()->title(), c.shown);
    }
}

TEST(MainWindowMessage, ShowsOwnerlessModalBoxUntilDismissed) {
    RunLog log;
    MainWindow window(log.handler());
    show_and_wait(window);
    window.link_box()->setFocus();
    // Input through the window system reaches the box while nothing is modal.
    QTest::keyClick(window.windowHandle(), Qt::Key_A);
    ASSERT_EQ(window.link_text(), "a");
    ASSERT_EQ(log.seen.size(), 1u);

    QMessageBox* box = nullptr;
    QString title, text;
    bool dismissed = false;
    Text box_text_while_modal;
    QTimer::singleShot(0, [&] {
        box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        EXPECT_EQ(box->parentWidget(), nullptr);
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        QTest::keyClick(window.windowHandle(), Qt::Key_B);
        box_text_while_modal = window.link_text();
        dismissed = true;
        box->button(QMessageBox::Ok)->click();
    });

    // "地址错误或软件失效"
    window.show_message("\xB5\xD8\xD6\xB7\xB4\xED\xCE\xF3\xBB\xF2\xC8\xED\xBC\xFE\xCA\xA7\xD0\xA7");

    EXPECT_TRUE(dismissed);
    EXPECT_EQ(title, QStringLiteral("信息："));
    EXPECT_EQ(text, QStringLiteral("地址错误或软件失效"));
    EXPECT_EQ(box_text_while_modal, "a");
    EXPECT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(MainWindowClose, RunUnderWayLeavesClosedWindowAlone) {
    MainWindow window;
    show_and_wait(window);
    bool run_finished = false;
    Text read_after_close = "unread";
    int message_boxes = 0;
    window.set_link_changed_handler([&](NoteWindow& w) {
        if (w.link_text() != "a") {
            return;
        }
        QTimer::singleShot(0, &window, &QWidget::close);
        w.process_pending_messages();
        // Any message box that opens now is a fault: count and dismiss it.
        QTimer::singleShot(0, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++message_boxes;
                modal->close();
            }
        });
        w.set_caption("after close");
        w.set_link_text("after close");
        w.show_message("after close");
        read_after_close = w.link_text();
        w.process_pending_messages();
        run_finished = true;
    });

    window.set_link_text("a");

    EXPECT_TRUE(run_finished);
    EXPECT_TRUE(window.is_closed());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("by：Tuvelko"));
    EXPECT_EQ(window.link_box()->toPlainText(), QStringLiteral("a"));
    EXPECT_EQ(read_after_close, "");
    EXPECT_EQ(message_boxes, 0);
}

TEST(MainWindowClose, EventLoopEndsWithZeroOnceTheRunHasReturned) {
    std::vector<std::string> trace;
    MainWindow window;
    window.set_link_changed_handler([&](NoteWindow& w) {
        trace.push_back("run begins");
        QTimer::singleShot(0, &window, &QWidget::close);
        w.process_pending_messages();
        trace.push_back("run ends");
    });
    show_and_wait(window);
    QTimer::singleShot(0, [&] { window.set_link_text("a"); });

    const int exit_code = QApplication::exec();
    trace.push_back("loop ends");

    EXPECT_EQ(exit_code, 0);
    const std::vector<std::string> expected = {"run begins", "run ends", "loop ends"};
    EXPECT_EQ(trace, expected);
}

}  // namespace
}  // namespace notepics
