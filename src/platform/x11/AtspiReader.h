#pragma once

#include "platform/TargetReader.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QThread>
#include <QTimer>
#include <deque>
#include <map>
#include <optional>
#include <set>

// The accessibility bus (AT-SPI) read from a thread of its own, so that a
// target that answers slowly never holds up the window or the typing. Each
// call has a short bound; events tell where the keys went:
//  - a spreadsheet (LibreOffice Calc): the sheet reports each move of its
//    cell cursor; the cell left by the key that ends a reading is where the
//    reading went, and its shown text is read;
//  - a text view or field (GTK editors, Firefox): each insertion is
//    reported with its position; the range a reading filled is read.
class AtspiWorker : public QObject {
    Q_OBJECT
public:
    static constexpr int CallMs = 500;   // bound on one call to the target
    static constexpr int QuietMs = 2000; // keys out, no sign of them: unverified

    AtspiWorker();
    // Joins the accessibility bus and asks for the events; false when it cannot.
    bool open();
    void follow(qint64 pid, const QString& windowClass);
    void expect(const ExpectedText& text);
    void retract(const QString& id);
    void stop();

signals:
    void done(const ReadBack& result);
    void unreadable(const QString& reason);

private slots:
    void onCursorMoved(const QDBusMessage& event);
    void onTextInserted(const QDBusMessage& event);

private:
    struct Ref {
        QString service, path;
        bool valid() const { return !service.isEmpty(); }
    };
    // One key that moves a spreadsheet's cursor, and the text typed into the
    // cell it leaves.
    struct Move {
        QString id;
        QChar key;
        QString cell; // typed into the cell
        bool data = false;
        bool last = false; // of its reading
    };
    // A reading typed into a text: how many characters of it were seen.
    struct Insert {
        QString id;
        QString text;
        QList<uint> ucs; // text's characters
        int need = 0, got = 0, start = -1;
    };
    struct Tally {
        bool changed = false;
        QString where, holds;
    };

    void findApp();
    // Whether a program on the bus is the target's (and learns it).
    bool isTarget(const QString& service);
    void give(const ReadBack& result);
    void giveUp(const QString& reason);
    void quiet();
    void checkCell(const Move& move, const Ref& cell);
    QDBusMessage call(const Ref& at, const QString& interface, const QString& method,
                      const QVariantList& args = {});
    QString textOf(const Ref& at, int start, int end);
    QString nameOf(const Ref& at);

    std::optional<QDBusConnection> m_bus;
    QString m_busError;
    qint64 m_pid = 0;
    QString m_class;
    QString m_app;              // the target's name on the bus
    std::set<QString> m_others; // programs that are not the target
    int m_findTries = 0;
    bool m_sheet = false;
    bool m_told = false;
    QString m_reason;
    Ref m_cursor; // the cell the sheet named last
    int m_cursorIndex = -1;
    Ref m_textObject; // the text the keys go to
    std::deque<Move> m_moves;
    std::deque<Insert> m_inserts;
    std::map<QString, Tally> m_tally;
    QTimer m_quiet;
    QTimer m_find;
};

class AtspiReader : public TargetReader {
    Q_OBJECT
public:
    AtspiReader();
    ~AtspiReader() override;
    void follow(qint64 pid, const QString& windowClass) override;
    void expect(const ExpectedText& text) override;
    void retract(const QString& id) override;

private:
    QThread m_thread;
    AtspiWorker* m_worker;
};
