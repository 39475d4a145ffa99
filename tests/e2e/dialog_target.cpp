// A target program for the end-to-end tests: a main window whose text edit
// writes each line ended with Return to a file, and which opens modal dialogs
// of its own, so that a test can prove that readings never go into a dialog.
//
//   dialog_target OUTFILE [--title TITLE] [--trigger WORD] [--dialog-at-start]
//
// OUTFILE is created empty once the window (and the start dialog, if asked
// for) is on screen, so a test waits for it to know the program is ready.
// Every key a dialog window receives is appended to OUTFILE.dialogkeys.

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

void appendTo(const QString& path, const QString& text) {
    QFile file(path);
    // Opened and closed per write so that a test sees every write at once.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(text.toUtf8());
}

class Target : public QObject {
public:
    Target(const QString& outFile, const QString& title, const QString& trigger, bool dialogAtStart)
        : outFile_(outFile), trigger_(trigger), dialogAtStart_(dialogAtStart) {
        window_.setWindowTitle(title);
        window_.resize(500, 300);
        edit_ = new QPlainTextEdit(&window_);
        edit_->setTabChangesFocus(false);
        window_.setCentralWidget(edit_);
        edit_->setFocus();
        QFile::remove(outFile_ + ".dialogkeys");
        qApp->installEventFilter(this);
        window_.show();
        waitingFor_ = window_.windowHandle();
    }

    bool eventFilter(QObject* obj, QEvent* event) override {
        if (event->type() == QEvent::Expose && obj == waitingFor_ && waitingFor_->isExposed()) {
            waitingFor_ = nullptr;
            QTimer::singleShot(0, this, [this] { exposed(); });
        } else if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (obj == edit_ && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
                lineEnded();
            } else if (obj->isWindowType() && obj != window_.windowHandle()) {
                // Caught where Qt hands the key to a window, so once per key,
                // not once per widget it propagates through.
                appendTo(outFile_ + ".dialogkeys", key->text());
            }
        }
        return false;
    }

private:
    void exposed() {
        if (dialogAtStart_ && !tipShown_) {
            tipShown_ = true;
            waitingFor_ = openBox(QMessageBox::Information, "Tip of the Day",
                                  "Readings go into the main window only.");
            return;
        }
        QFile file(outFile_);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            std::fprintf(stderr, "dialog_target: cannot create %s\n", qPrintable(outFile_));
            QCoreApplication::exit(1);
        }
    }

    void lineEnded() {
        // Called before the text edit handles Return: the line is what lies
        // left of the cursor, which Return is about to end.
        const QTextCursor cursor = edit_->textCursor();
        const QString line = cursor.block().text().left(cursor.positionInBlock());
        appendTo(outFile_, line + "\n");
        if (line.contains(trigger_)) {
            // Deferred so that the text edit finishes with the Return first.
            QTimer::singleShot(0, this, [this, line] {
                openBox(QMessageBox::Warning, "Refused reading",
                        QString("The value \"%1\" is refused.").arg(line));
            });
        }
    }

    QWindow* openBox(QMessageBox::Icon icon, const QString& title, const QString& text) {
        // Parented to the main window so that Qt marks it transient for it.
        auto* box = new QMessageBox(icon, title, text, QMessageBox::Ok, &window_);
        box->setTextFormat(Qt::PlainText);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::ApplicationModal);
        connect(box, &QDialog::finished, this, [this] {
            window_.activateWindow();
            edit_->setFocus();
        });
        box->show();
        return box->windowHandle();
    }

    QMainWindow window_;
    QPlainTextEdit* edit_ = nullptr;
    QString outFile_;
    QString trigger_;
    bool dialogAtStart_;
    bool tipShown_ = false;
    QWindow* waitingFor_ = nullptr;
};

} // namespace

int main(int argc, char** argv) {
    // Parsed before QApplication so that a usage error needs no display.
    QString outFile;
    QString title = "dialogtarget";
    QString trigger = "DIALOG";
    QString platformFile;
    bool dialogAtStart = false;
    bool bad = false;
    for (int i = 1; i < argc && !bad; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if ((arg == "--title" || arg == "--trigger") && i + 1 < argc)
            (arg == "--title" ? title : trigger) = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--platform-to" && i + 1 < argc)
            platformFile = QString::fromLocal8Bit(argv[++i]);
        else if (arg == "--dialog-at-start")
            dialogAtStart = true;
        else if (!arg.startsWith("--") && outFile.isEmpty())
            outFile = arg;
        else
            bad = true;
    }
    if (bad || outFile.isEmpty() || trigger.isEmpty()) {
        std::fprintf(stderr, "usage: dialog_target OUTFILE [--title TITLE] [--trigger WORD] "
                             "[--dialog-at-start] [--platform-to FILE]\n");
        return 2;
    }
    QApplication app(argc, argv);
    if (!platformFile.isEmpty()) { // which window system Qt chose, then done
        QFile f(platformFile);
        return f.open(QIODevice::WriteOnly) && f.write(app.platformName().toUtf8()) > 0 ? 0 : 1;
    }
    Target target(outFile, title, trigger, dialogAtStart);
    return app.exec();
}
