#pragma once

#include "ConnectTime.h"
#include "HeldReadings.h"
#include "base/AppError.h"

#include <QObject>
#include <deque>
#include <functional>
#include <utility>

class DesktopPlatform;
class Journal;
class TargetReader;
struct ReadBack;

// Delivers readings: types them into the target, records each that went
// out, then what the target was read back to hold. Reading back goes on
// beside the typing and never holds it up; its results come later, each
// recorded as it comes.
class ReadingDelivery : public QObject {
    Q_OBJECT
public:
    // Most readings typed in one call, and most characters (bounds how long
    // a click on Stop waits).
    static constexpr int BatchLines = 64;
    static constexpr qsizetype BatchChars = 4096;

    // reader may be null: nothing is read back.
    ReadingDelivery(DesktopPlatform& platform, TargetReader* reader, Journal& journal,
                    std::function<void(const QString&)> log, Clock clock,
                    QObject* parent = nullptr);

    // A new run: records go under portLabel, and the target is learnt anew.
    void startRun(const QString& portLabel);

    struct Typed {
        Failure failure;        // of the typing, as DesktopPlatform::typeText gives it
        int readings = 0;       // in the call
        int chars = 0;          // of the call's text that went out
        bool heldTyped = false; // a reading the log showed as held went out
    };
    // Types the planned readings at the front of held (one only when
    // oneByOne) in one call, and takes those that went out whole off held.
    // The focus was confirmed just before.
    Typed typeFront(HeldReadings& held, bool oneByOne);

    // Of this run.
    int verified() const { return m_verified; }
    int changed() const { return m_changed; }

signals:
    // The counts of this run changed.
    void checked();

private:
    void follow();
    void onReadBack(const ReadBack& result);
    void onUnreadable(const QString& reason);

    DesktopPlatform& m_platform;
    TargetReader* m_reader;
    Journal& m_journal;
    std::function<void(const QString&)> m_log;
    Clock m_clock;
    QString m_portLabel;
    bool m_following = false;
    int m_verified = 0;
    int m_changed = 0;
    bool m_changeTold = false;
    bool m_unverifiedTold = false;
    // What the log shows of readings still being read back, oldest first:
    // results come mostly in order. Past its bound the oldest is dropped,
    // its result lost with its target.
    std::deque<std::pair<QString, QString>> m_shown;
};
