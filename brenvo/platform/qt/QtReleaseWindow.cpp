#include "brenvo/platform/qt/QtReleaseWindow.h"

#include "brenvo/platform/qt/QtRunLoop.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include <chrono>
#include <string>

namespace brenvo::platform {
namespace {

QString qtText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A label named `name` before it takes its text, which may already reach a screen reader.
QLabel* addLabel(QVBoxLayout* layout, const std::string& text, const char* name = "") {
    auto* label = new QLabel;
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setText(qtText(text));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(label);
    return label;
}

// The window's heading as a screen reader presents it: a heading, named by its text.
class AccessibleHeading final : public QAccessibleWidget {
public:
    explicit AccessibleHeading(QLabel* label) : QAccessibleWidget(label, QAccessible::Heading) {}
    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Name)
            return static_cast<QLabel*>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

constexpr const char* kHeadingName = "BrenvoReleaseHeading";

QAccessibleInterface* accessibleHeading(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    return label && label->objectName() == kHeadingName ? new AccessibleHeading(label) : nullptr;
}

// Ignores every key press for the dialog for `span` once the dialog is exposed on the screen:
// before the dialog, its default button, its mnemonics (shortcut overrides) or Escape see it.
// Clicks are not key presses. Lives as the dialog's child, filtering the application's events.
class KeyGuard final : public QObject {
public:
    KeyGuard(QDialog* dialog, std::chrono::milliseconds span)
        : QObject(dialog), dialog_(dialog), span_(span) {
        QCoreApplication::instance()->installEventFilter(this);
    }

    bool eventFilter(QObject* receiver, QEvent* event) override {
        switch (event->type()) {
        case QEvent::Expose:
            if (!exposed_.isValid() && receiver == dialog_->windowHandle() &&
                dialog_->windowHandle()->isExposed())
                exposed_.start();
            return false;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
            break;
        default:
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(receiver);
        const bool ours = receiver == dialog_->windowHandle() ||
                          (widget && (widget == dialog_ || dialog_->isAncestorOf(widget)));
        if (!ours)
            return false;
        if (exposed_.isValid() && exposed_.elapsed() >= span_.count()) {
            QCoreApplication::instance()->removeEventFilter(this);
            return false;
        }
        event->accept(); // an accepted override keeps the shortcut from firing
        return true;
    }

private:
    QDialog* dialog_;
    std::chrono::milliseconds span_;
    QElapsedTimer exposed_;
};

class QtReleaseWindow final : public Window {
public:
    QtReleaseWindow(ReleaseWindowOwner& owner, QPointer<QWidget> parent)
        : owner_(owner), parent_(std::move(parent)) {}

    ~QtReleaseWindow() override {
        if (dialog_) {
            // Gone without a close (the controller was torn down): no more calls to the owner.
            QObject::disconnect(dialog_, nullptr, nullptr, nullptr);
            delete dialog_.data();
        }
    }

    void showWindow(const ReleaseTexts& texts) override {
        if (dialog_ || closed_)
            return;
        dialog_ = new QDialog(parent_.data());
        QDialog* dialog = dialog_.data();
        dialog->setObjectName("BrenvoReleaseWindow");
        dialog->setWindowTitle(qtText(texts.windowTitle));
        dialog->resize(520, 380);
        if (texts.keyGuard > std::chrono::milliseconds::zero())
            new KeyGuard(dialog, texts.keyGuard);

        auto* layout = new QVBoxLayout(dialog);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->setSpacing(10);
        [[maybe_unused]] static const bool headingFactory =
            (QAccessible::installFactory(accessibleHeading), true);
        QLabel* title = addLabel(layout, texts.titleText, kHeadingName);
        QFont bold = title->font();
        bold.setBold(true);
        bold.setPointSizeF(bold.pointSizeF() * 1.2);
        title->setFont(bold);
        addLabel(layout, texts.descriptionText);
        QLabel* releaseLabel = addLabel(layout, texts.releaseText);

        auto* notes = new QPlainTextEdit(dialog);
        notes->setObjectName("BrenvoReleaseNotes");
        notes->setReadOnly(true);
        notes->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        notes->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        notes->setPlainText(qtText(shownReleaseDetails(texts).value_or(std::string())));
        layout->addWidget(notes, 1);
        // A screen reader names the notes by the label above them, and says the description
        // as the window's.
        releaseLabel->setBuddy(notes);
        dialog->setAccessibleDescription(qtText(texts.descriptionText));

        auto* buttons = new QHBoxLayout();
        buttons->setSpacing(8);
        buttons->addStretch(1);
        skipButton_ =
            new QPushButton(qtText(withMnemonic(texts.buttonTitleUpdateSkip, '&')), dialog);
        skipButton_->setObjectName("BrenvoSkipButton");
        openButton_ =
            new QPushButton(qtText(withMnemonic(texts.buttonTitleUpdateNow, '&')), dialog);
        openButton_->setObjectName("BrenvoOpenButton");
        openButton_->setDefault(true);
        // Read out by their titles, without the mnemonic marks.
        skipButton_->setAccessibleName(qtText(texts.buttonTitleUpdateSkip.text));
        openButton_->setAccessibleName(qtText(texts.buttonTitleUpdateNow.text));
        buttons->addWidget(skipButton_);
        buttons->addWidget(openButton_);
        layout->addLayout(buttons);

        // Texts in a right-to-left script lay the whole window out from the right.
        if (dialog->windowTitle().isRightToLeft())
            dialog->setLayoutDirection(Qt::RightToLeft);

        QObject::connect(skipButton_, &QPushButton::clicked, dialog, [this] {
            if (!closed_)
                owner_.doSkip();
        });
        QObject::connect(openButton_, &QPushButton::clicked, dialog, [this] {
            if (!closed_)
                owner_.doOpenMas();
        });
        // Every close ends in finished(): a button's close(), Escape, the window manager's close.
        QObject::connect(dialog, &QDialog::finished, dialog, [this] { closedByDialog(); });
        // The host deleted the dialog, or its parent, under us.
        QObject::connect(dialog, &QObject::destroyed, [this] { closedByDialog(); });

        owner_.awakeFromNib();
    }

    // The message in the dialog's own style: a bold line, the reason or detail, one default
    // button; the button, Escape and the close box close it.
    bool showMessage(const MessageTexts& texts) override {
        if (dialog_ || closed_)
            return false;
        dialog_ = new QDialog(parent_.data());
        QDialog* dialog = dialog_.data();
        dialog->setObjectName("BrenvoMessageWindow");
        dialog->setWindowTitle(qtText(texts.windowTitle));
        auto* layout = new QVBoxLayout(dialog);
        layout->setContentsMargins(16, 16, 16, 16);
        layout->setSpacing(10);
        QLabel* message = addLabel(layout, texts.messageText);
        QFont bold = message->font();
        bold.setBold(true);
        message->setFont(bold);
        addLabel(layout, texts.informativeText);
        auto* buttons = new QHBoxLayout();
        buttons->addStretch(1);
        openButton_ = new QPushButton(qtText(texts.buttonTitle), dialog);
        openButton_->setObjectName("BrenvoOkButton");
        openButton_->setDefault(true);
        buttons->addWidget(openButton_);
        layout->addLayout(buttons);
        dialog->setMinimumWidth(360);
        if (dialog->windowTitle().isRightToLeft())
            dialog->setLayoutDirection(Qt::RightToLeft);
        dialog->adjustSize();
        QObject::connect(openButton_, &QPushButton::clicked, dialog, &QDialog::accept);
        QObject::connect(dialog, &QDialog::finished, dialog, [this] { closedByDialog(); });
        QObject::connect(dialog, &QObject::destroyed, [this] { closedByDialog(); });
        owner_.awakeFromNib();
        return true;
    }

    // Qt activates the dialog as makeKeyAndOrderFront() shows it: activateApplication() is
    // Window's, which does nothing.

    // Centred on the host's window when it names one, else on its screen.
    void center() override {
        if (!dialog_)
            return;
        QRect area;
        if (dialog_->parentWidget())
            area = dialog_->parentWidget()->window()->frameGeometry();
        else if (QScreen* screen = dialog_->screen())
            area = screen->availableGeometry();
        if (area.isValid()) {
            QRect frame(QPoint(0, 0), dialog_->size());
            frame.moveCenter(area.center());
            dialog_->move(frame.topLeft());
        }
    }

    void makeKeyAndOrderFront() override {
        if (!dialog_)
            return;
        dialog_->show();
        dialog_->raise();
        dialog_->activateWindow();
        openButton_->setFocus(Qt::ActiveWindowFocusReason);
    }

    void close() override {
        if (dialog_)
            dialog_->done(QDialog::Rejected); // finished() tells the owner
        else
            closedByDialog();
    }

private:
    void closedByDialog() {
        if (closed_)
            return;
        closed_ = true;
        if (dialog_)
            dialog_->hide();
        owner_.windowWillClose();
    }

    ReleaseWindowOwner& owner_;
    QPointer<QWidget> parent_;
    QPointer<QDialog> dialog_;
    QPushButton* openButton_ = nullptr;
    QPushButton* skipButton_ = nullptr;
    bool closed_ = false;
};

bool canShowWindows() {
    // Widgets live on the application's thread only: an agent of another thread gets none.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal";
}

std::unique_ptr<Window> makeWindow(ReleaseWindowOwner& owner, QPointer<QWidget> parent) {
    if (!canShowWindows())
        return nullptr;
    return std::make_unique<QtReleaseWindow>(owner, std::move(parent));
}

// Offered to the default services when this library is loaded: only for a loop that Qt runs,
// since nothing else would serve the window's events.
[[maybe_unused]] const bool offered = [] {
    offerDefaultWindow(
        DefaultWindowRank::Qt,
        [](ReleaseWindowOwner& owner, RunLoop& loop, Log&) -> std::unique_ptr<Window> {
            if (!QtRunLoopSource::drives(loop))
                return nullptr;
            return makeWindow(owner, nullptr);
        });
    return true;
}();

} // namespace

std::unique_ptr<Window> makeQtReleaseWindow(ReleaseWindowOwner& owner, RunLoop&) {
    return makeWindow(owner, nullptr);
}

std::unique_ptr<Window> makeQtReleaseWindow(ReleaseWindowOwner& owner, RunLoop&, QWidget* parent) {
    return makeWindow(owner, parent);
}

void registerQtWindow(WindowRegistry& registry) {
    registerQtWindow(registry, nullptr);
}

void registerQtWindow(WindowRegistry& registry, QWidget* parent) {
    registry.registerWindow(
        std::string(kReleaseInfoWindow),
        [parent = QPointer<QWidget>(parent)](ReleaseWindowOwner& owner, RunLoop&) {
            return makeWindow(owner, parent);
        });
}

} // namespace brenvo::platform
