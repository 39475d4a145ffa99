#pragma once

#include "platform/SheetMoves.h"
#include "platform/TargetReader.h"
#include "platform/ThreadedReader.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <deque>
#include <functional>
#include <optional>

// The accessibility bus (AT-SPI) read from a thread of its own, so that a
// target that answers slowly never holds up the window or the typing. It
// asks for no events (once anyone listens to any, every GTK program on the
// desktop reports every change and types several times slower): while
// readings are on their way it looks at the target a few times a second,
// each call with a short bound.
//  - A spreadsheet (LibreOffice Calc): its Name Box tells where the cell
//    cursor is. From where it was before the keys, each reading's cell
//    follows (SheetMoves); once the cursor has passed a reading, its cell's
//    shown text is read.
//  - A text view or field (GTK editors, Firefox): once its caret and length
//    are still, the text just before the caret must be the readings, in
//    order.
class AtspiWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int CallMs = 500;      // bound on one call to the target
    static constexpr int QuietMs = 2000;    // keys out, no sign of them: unverified
    static constexpr int LookMs = 50;       // while readings are on their way
    static constexpr int FirstLookMs = 400; // at a text, after the last reading expected
    static constexpr int IdleLookMs = 250;  // at a sheet's cursor, between readings
    static constexpr int MaxWalk = 5000;    // objects looked at to find a part
    // AT-SPI's states and roles.
    static constexpr quint64 Editable = 1ull << 7, Focused = 1ull << 12,
                             ManagesDescendants = 1ull << 31, Showing = 1ull << 25;
    static constexpr uint RoleTable = 55, RoleText = 61;

    AtspiWorker();
    // Joins the accessibility bus and asks for the events; false when it cannot.
    bool open();
    void follow(qint64 pid, const QString& windowClass);
    void expect(const ExpectedText& text);
    void retract(const QString& id, const QString& typed);
    void stop();

signals:
    void done(const ReadBack& result);
    void unreadable(const QString& reason);

private:
    struct Ref {
        QString service, path;
        bool valid() const { return !service.isEmpty(); }
    };
    // A reading typed into a text.
    struct Insert {
        QString id;
        QString text;
        QList<uint> ucs; // text's characters
    };

    void findApp();
    // Whether a program on the bus is the target (and learns it).
    bool isTarget(const QString& service);
    void give(const ReadBack& result);
    void giveUp(const QString& reason);
    void lookSheet(qint64 now);
    void lookText(qint64 now);
    // Finds the sheet's table and its Name Box (once per window).
    bool findSheetParts();
    // The result of the reading whose moves are the first n.
    ReadBack checkReading(int n);
    void look();
    // unread: why nothing could be read; else before is the text from
    // character from up to the caret.
    void decideTexts(const QString& before, const QString& unread, int from, std::size_t count);
    Ref focusedText();
    // Calls visit(object, state) for what shows of the target, until it
    // returns true.
    void walk(const std::function<bool(const Ref&, quint64)>& visit);
    QVariant property(const Ref& at, const QString& interface, const QString& name);
    QDBusMessage call(const Ref& at, const QString& interface, const QString& method,
                      const QVariantList& args = {});
    QString textOf(const Ref& at, int start, int end);

    std::optional<QDBusConnection> m_bus;
    QString m_busError;
    qint64 m_pid = 0;
    QString m_class;
    QString m_app; // the target's name on the bus
    int m_findTries = 0;
    bool m_sheet = false;
    bool m_told = false;
    QString m_reason;
    SheetMoves m_moves;
    Ref m_table, m_nameBox;
    int m_partTries = 0;
    Ref m_textObject; // the text the keys go to
    std::deque<Insert> m_inserts;
    QTimer m_find;
    QTimer m_look;
    qint64 m_stillSinceMs = 0;
    int m_lastCaret = -1, m_lastCount = -1;
};
