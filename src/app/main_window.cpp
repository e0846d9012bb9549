#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMargins>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QShowEvent>
#include <QSize>
#include <QTextOption>
#include <QWindow>

#include <utility>

#include "app/qt_text.h"
#include "app/window_system.h"

namespace notepics {
namespace {

QRect geometry_of(const ChildPlace& place) {
    return QRect(place.x, place.y, place.width, place.height);
}

}  // namespace

// The link box. While an input method composes a character, the box shows
// the composition but its text stays the same: such updates are not changes
// of the link.
class LinkBox final : public QPlainTextEdit {
  public:
    using QPlainTextEdit::QPlainTextEdit;

    // True while the box takes an update of a composition alone.
    bool updating_composition() const { return updating_composition_; }

  protected:
    void inputMethodEvent(QInputMethodEvent* event) override {
        const bool composition_only =
            event->commitString().isEmpty() && event->replacementLength() == 0;
        if (!composition_only) {
            QPlainTextEdit::inputMethodEvent(event);
            return;
        }
        FlagGuard updating(updating_composition_);
        QPlainTextEdit::inputMethodEvent(event);
    }

  private:
    bool updating_composition_ = false;
};

namespace {

LinkBox* make_link_box(QWidget* parent) {
    auto* box = new LinkBox(parent);
    box->setGeometry(geometry_of(kLinkBoxPlace));
    box->setObjectName(QStringLiteral("link_box"));
    // Wraps at the right edge, breaking a word only when it is longer than
    // a line; Enter inserts a line break; no scroll bars, no length limit.
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setTabChangesFocus(false);
    // A thin sunken edge.
    box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->setLineWidth(1);
    box->document()->setDocumentMargin(2);
    // Black on white, whatever the style's colours.
    QPalette palette = box->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    box->setPalette(palette);
    // A 12-pixel font of normal weight; no face name, so the system picks a
    // face that has the Chinese characters.
    QFont font = box->font();
    font.setPixelSize(kLinkBoxPixelSize);
    font.setWeight(QFont::Normal);
    box->setFont(font);
    return box;
}

}  // namespace

QPoint centred_position(const QRect& area, const QSize& outer) {
    return {area.x() + (area.width() - outer.width()) / 2,
            area.y() + (area.height() - outer.height()) / 2};
}

MainWindow::MainWindow(LinkChangedHandler on_link_changed)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      on_link_changed_(std::move(on_link_changed)) {
    setObjectName(QStringLiteral("main_window"));
    setWindowTitle(to_qstring(kInitialCaption));

    // The button-face colour as background.
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    setAutoFillBackground(true);

    link_label_ = new QLabel(to_qstring(kLinkLabelText), this);
    link_label_->setObjectName(QStringLiteral("link_label"));
    link_label_->setGeometry(geometry_of(kLinkLabelPlace));

    link_box_ = make_link_box(this);
    connect(link_box_, &QPlainTextEdit::textChanged, this, &MainWindow::on_box_changed);

    // Without a window manager the window is its outer size; with one, the
    // client area shrinks by the frame once the frame is known.
    setFixedSize(kWindowWidth, kWindowHeight);
    move(centred_position(screen()->availableGeometry(), QSize(kWindowWidth, kWindowHeight)));
}

MainWindow::~MainWindow() = default;

QPlainTextEdit* MainWindow::link_box() const {
    return link_box_;
}

void MainWindow::set_link_changed_handler(LinkChangedHandler on_link_changed) {
    on_link_changed_ = std::move(on_link_changed);
}

Text MainWindow::link_text() {
    if (closed_) {
        return {};
    }
    return to_text(link_box_->toPlainText());
}

void MainWindow::set_link_text(std::string_view text) {
    if (closed_) {
        return;
    }
    {
        // The box's own change notices during the write are not passed on:
        // the change is raised exactly once below.
        FlagGuard writing(writing_box_);
        link_box_->setPlainText(to_qstring(text));
    }
    raise_link_changed();
}

void MainWindow::set_caption(std::string_view text) {
    if (closed_) {
        return;
    }
    QString caption = to_qstring(text);
    // "[*]" is the toolkit's placeholder for a modification mark; doubled,
    // it shows as written.
    caption.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(caption);
    flush_window_system();
}

void MainWindow::show_message(std::string_view text) {
    if (closed_) {
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, to_qstring(kMessageCaption), to_qstring(text),
                    QMessageBox::Ok, nullptr);
    box.setObjectName(QStringLiteral("message_box"));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void MainWindow::process_pending_messages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void MainWindow::showEvent(QShowEvent* event) {
    closed_ = false;
    // The frame is known only once the window manager has taken the window:
    // watch the native window until then.
    if (!frame_fitted_ && windowHandle() != nullptr) {
        windowHandle()->removeEventFilter(this);
        windowHandle()->installEventFilter(this);
    }
    QWidget::showEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    closed_ = true;
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() &&
        (event->type() == QEvent::Expose || event->type() == QEvent::Move)) {
        fit_outer_size_to_frame();
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::on_box_changed() {
    if (writing_box_ || link_box_->updating_composition()) {
        return;
    }
    raise_link_changed();
}

void MainWindow::raise_link_changed() {
    if (!on_link_changed_) {
        return;
    }
    // A copy, so that a handler replaced during the run stays alive to its
    // end.
    const LinkChangedHandler handler = on_link_changed_;
    handler(*this);
}

void MainWindow::fit_outer_size_to_frame() {
    if (frame_fitted_ || windowHandle() == nullptr) {
        return;
    }
    const QMargins frame = windowHandle()->frameMargins();
    if (frame.isNull()) {
        return;
    }
    frame_fitted_ = true;
    windowHandle()->removeEventFilter(this);
    const QSize outer(kWindowWidth, kWindowHeight);
    const QSize client = outer.shrunkBy(frame).expandedTo(QSize(1, 1));
    setFixedSize(client);
    move(centred_position(screen()->availableGeometry(), outer));
}

}  // namespace notepics
