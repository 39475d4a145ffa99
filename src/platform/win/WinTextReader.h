#pragma once

#include "platform/TargetReader.h"
#include "platform/ThreadedReader.h"

#include <QTimer>
#include <deque>
#include <string>

// Reads back a target whose focused control is a plain Edit or RichEdit
// control (Notepad, WordPad and the many programs built on them), which
// answer WM_GETTEXT from another process. Such a control sends no events:
// it is looked at a few times a second from a thread of its own, each
// message with a short bound. Once its text and caret are still, the text
// just before the caret must be the readings typed since, in order
// (TextAlign).
class WinTextWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int LookMs = 100;         // each look is a message into the target
    static constexpr int FirstLookMs = 1500;   // after the last reading expected
    static constexpr int LongestWaitMs = 5000; // a reading waits to be looked for
    static constexpr int QuietMs = 2000;       // keys out, nothing still matches: decide
    static constexpr int MessageMs = 200;
    static constexpr int MaxChars = 4 * 1024 * 1024;

    WinTextWorker();
    void follow(qint64 pid, const QString& windowClass);
    void expect(const ExpectedText& text);
    void retract(const QString& id, const QString& typed);
    void stop();

signals:
    void done(const ReadBack& result);
    void unreadable(const QString& reason);

private:
    struct Pending {
        QString id;
        std::wstring text; // as the control holds it: Return is CR LF
    };
    void look();
    void tell(const QString& reason);
    // before: the text from character from up to the caret; from is -1
    // when the target did not answer.
    void decide(const QString& before, size_t from, size_t count);

    qint64 m_pid = 0;
    void* m_control = nullptr; // HWND of the target's focused text box
    bool m_told = false;
    QString m_reason;
    std::deque<Pending> m_pending;
    QTimer m_look;
    qint64 m_lastChangeMs = 0;
    qint64 m_firstPendingMs = 0; // of the oldest reading pending
    size_t m_lastCaret = size_t(-1);
    size_t m_lastLength = size_t(-1);
};
