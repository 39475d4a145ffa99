#include "DialogHelpers.h"

#include "Fonts.h"
#include "Twips.h"

#include <QButtonGroup>
#include <QDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

namespace {
class EscapeEater : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        return event->type() == QEvent::KeyPress &&
               static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
    }
};

// Enter on a focused button presses it, as Space does. Qt leaves that to
// default buttons, which these dialogs do not have.
class EnterPresses : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter)
            return false;
        static_cast<QPushButton*>(watched)->click();
        return true;
    }
};
} // namespace

namespace DialogHelpers {
void setUpFrame(QDialog* dialog, const QString& title, int widthTwips, int heightTwips,
                Qt::WindowType kind) {
    dialog->setWindowTitle(title);
    dialog->setWindowFlags(kind | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFont(Fonts::sans(9));
    dialog->setFixedSize(tw(widthTwips), tw(heightTwips));
}

QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    b->setDefault(false);
    b->installEventFilter(new EnterPresses(b));
    return b;
}

void centreOnScreen(QWidget* window, QSize outerSize) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect s = screen->geometry();
    window->move(s.x() + int((s.width() - outerSize.width()) / 2.0f),
                 s.y() + int((s.height() - outerSize.height()) / 2.0f));
}

void onOptionSelected(QButtonGroup* group, const std::function<void(std::int16_t)>& handler) {
    // Toggled rather than clicked: a selection by arrow keys or from code
    // must reach the dialog's pending value as well.
    QObject::connect(group, &QButtonGroup::idToggled, group, [handler](int id, bool on) {
        if (on)
            handler(static_cast<std::int16_t>(id));
    });
}

void setTabChain(std::initializer_list<QWidget*> chain) {
    QWidget* previous = nullptr;
    for (QWidget* w : chain) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void keepOpenOnEscape(QDialog* dialog) {
    // Key presses the focused control leaves alone reach the dialog's
    // filters before QDialog turns Esc into reject().
    dialog->installEventFilter(new EscapeEater(dialog));
}
} // namespace DialogHelpers
