#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

// What a warning box showed while an action ran.
struct SeenBox {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
};

// Runs action; every message box that becomes modal meanwhile is read and
// closed with its OK button.
inline QList<SeenBox> answerBoxes(const std::function<void()>& action) {
    QList<SeenBox> seen;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen.append({box->text(), box->windowTitle(), box->icon(), int(box->buttons().size())});
        if (QAbstractButton* ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    timer.start(10);
    action();
    return seen;
}

// Runs action; every modal T that comes up meanwhile is handed to answer,
// which must close it.
template <typename T>
int whileModal(const std::function<void()>& action, const std::function<void(T*)>& answer) {
    int answered = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget())) {
            ++answered;
            answer(w);
        }
    });
    timer.start(10);
    action();
    return answered;
}
