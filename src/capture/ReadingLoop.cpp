#include "ReadingLoop.h"

#include "GarbleCheck.h"
#include "Journal.h"
#include "LineText.h"
#include "RunRecord.h"
#include "app/AppState.h"
#include "platform/DesktopPlatform.h"
#include "platform/KeyActions.h"
#include "serial/SerialPort.h"

#include <QScopeGuard>

#include <algorithm>
#include <utility>

namespace {
// How often a target that cannot take keys is asked again: quickly while a
// window manager is still moving the focus, then a few times a second.
constexpr int QuickRetryMs = 10;
constexpr int RetryMs = 250;
// How soon typing goes on after it paused for a key remap (the settle time
// is 200 ms; a remap waits for the keyboard to be quiet that long).
constexpr int SettleRetryMs = 25;
// How long a line that arrives while lines stream in waits for others.
constexpr int CoalesceMs = 2;
// Longest time one portion of received bytes is worked on.
constexpr int PumpBudgetMs = 20;

QString logLine(const QString& text) {
    return text + QStringLiteral("\r\n");
}

bool targetGone(const AppError& e) {
    return e.number == Err::NoTargetWindow || e.number == Err::NoDisplay;
}
} // namespace

ReadingLoop::ReadingLoop(SerialPort& port, DesktopPlatform& platform, AppState& state,
                         Journal& journal, Log log, Clock clock, QObject* parent,
                         TargetReader* reader)
    : QObject(parent), m_port(port), m_platform(platform), m_app(state), m_journal(journal),
      m_log(std::move(log)), m_clock(std::move(clock)),
      m_typing(platform, reader, journal, m_log.insert, m_clock) {
    m_delivery.setSingleShot(true);
    connect(&m_delivery, &QTimer::timeout, this, &ReadingLoop::deliver);
    m_launchWatch.setInterval(LaunchWatchEveryMs);
    connect(&m_launchWatch, &QTimer::timeout, this, &ReadingLoop::watchLaunch);
    connect(&m_requestTimer, &QTimer::timeout, this, &ReadingLoop::sendRequest);
    m_identifyWait.setSingleShot(true);
    connect(&m_identifyWait, &QTimer::timeout, this, [this] {
        identified(QStringLiteral("no answer to Identify within %1 s; the run goes on without it")
                       .arg(IdentifyWaitMs / 1000));
    });
    connect(&m_port, &SerialPort::dataReceived, this, [this] { pump(); });
    connect(&m_port, &SerialPort::failed, this, [this](const AppError& e) {
        if (!isRunning())
            return;
        // An adapter pulled out is usually plugged in again: the run waits
        // for it. Every other failure of the port ends the run.
        if (e.number == Err::PortHungUp && m_state != RunState::WaitingForDevice &&
            !m_device.node.isEmpty())
            waitForDevice(e);
        else
            errorPath(e);
    });
    m_reopenRetry.setSingleShot(true);
    connect(&m_reopenRetry, &QTimer::timeout, this, &ReadingLoop::reopenDevice);
    connect(&m_deviceWatch, &DeviceWatch::back, this, [this] {
        m_reopenTries = 0;
        reopenDevice();
    });
    connect(&m_deviceWatch, &DeviceWatch::stranger, this, [this](const QString& name) {
        const QString other = name.isEmpty() ? QStringLiteral("a device without a serial name")
                                             : QStringLiteral("another device (%1)").arg(name);
        m_log.insert(logLine(
            m_device.name.isEmpty()
                ? QStringLiteral("%1 is now another device, not the one that went away: it is "
                                 "not opened. Still waiting; Stop ends the wait.")
                      .arg(m_device.node)
                : QStringLiteral("%1 is now %2, not the adapter %3 that went away: it is not "
                                 "opened. Still waiting; Stop ends the wait.")
                      .arg(m_device.node, other, m_device.name)));
        m_journal.portEvent(m_clock(), m_portLabel, "device other",
                            name.isEmpty() ? QStringLiteral("(no serial name)") : name);
        noteJournalFailure();
    });
}

void ReadingLoop::setState(RunState state) {
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void ReadingLoop::start() {
    setState(RunState::Reading);
    m_suspended = false;
    m_waiting.invalidate();
    m_heldReason.clear();
    m_longLineReported = false;
    m_garbleReported = false;
    m_requestBlockedReported = false;
    m_recentOfThisRun = false;
    m_data = m_nextData;
    m_sheet.startRun();
    // Resolving the device reads the settings and the device folder: once
    // a run, not for every record.
    m_portLabel = QStringLiteral("Com%1 %2").arg(m_port.CommPort()).arg(m_port.devicePath());
    m_typing.startRun(m_portLabel);
    m_port.setInputLen(1);
    if (!m_port.PortOpen()) {
        if (Failure f = m_port.setPortOpen(true)) {
            errorPath(*f);
            return;
        }
    }
    // What "the same device" means if it goes away during the run.
    m_device = DeviceWatch::identify(m_port.openedDevice());
    m_log.clear();
    // Who runs it, where, and with what: the run's readings are attributable.
    m_journal.portEvent(
        m_clock(), m_portLabel, RunRecord::Event,
        RunRecord::text({m_portLabel, DeviceWatch::adapterName(m_device.node), m_port.Settings(),
                         m_port.Handshaking(), m_data.described}));
    noteJournalFailure();
    m_assembler.reset();
    m_assembler.setLineEnd(m_data.lineEnd);
    // Readings held from an earlier run come first; the log says so again.
    for (const Reading& r : m_held.all())
        m_log.insert(logLine(QStringLiteral("[held] ") + r.shown()));
    emit heldChanged();
    m_platform.prepareTyping();
    m_started.start();
    m_launchWatch.start();
    if (m_data.identify.isEmpty())
        startRequests();
    else
        identify();
    pump();
    scheduleDelivery(0);
}

void ReadingLoop::startRequests() {
    sendRequest();
    if (m_data.requestEveryMs > 0 && !m_data.request.isEmpty())
        m_requestTimer.start(m_data.requestEveryMs);
}

void ReadingLoop::identify() {
    // Asked before any request, so that the next line is the answer.
    if (const Failure f = m_port.setOutput(m_data.identify)) {
        if (f->number != Err::PortOutputBlocked) {
            errorPath(*f);
            return;
        }
        identified(QStringLiteral("not asked: ") + f->message);
        return;
    }
    m_identifying = true;
    m_identifyWait.start(IdentifyWaitMs);
}

void ReadingLoop::identified(const QString& answer) {
    m_identifying = false;
    m_identifyWait.stop();
    m_journal.portEvent(m_clock(), m_portLabel, RunRecord::IdentityEvent, answer);
    noteJournalFailure();
    m_log.insert(logLine(QStringLiteral("Instrument: ") + answer));
    startRequests();
}

void ReadingLoop::request() {
    if (isRunning() && m_state != RunState::WaitingForDevice)
        sendRequest();
}

void ReadingLoop::sendRequest() {
    if (!isRunning() || m_state == RunState::WaitingForDevice || m_data.request.isEmpty())
        return;
    const Failure f = m_port.setOutput(m_data.request);
    if (!f)
        return;
    // An instrument that takes nothing for now may take the next request;
    // the run goes on reading what it sends.
    if (f->number == Err::PortOutputBlocked) {
        if (!std::exchange(m_requestBlockedReported, true))
            m_log.insert(logLine(f->message));
        return;
    }
    errorPath(*f);
}

void ReadingLoop::watchLaunch() {
    if (!isRunning() || m_started.elapsed() > LaunchWatchMs) {
        m_launchWatch.stop();
        return;
    }
    // Lines waiting to be typed find it out themselves.
    if (!m_held.isEmpty())
        return;
    if (Failure f = m_platform.checkLaunched(m_app.TaskId))
        errorPath(*f, true);
}

void ReadingLoop::stop() {
    if (!isRunning())
        return;
    // Lines the instrument sent before Stop are readings too: take every
    // whole line that has arrived, to be typed at the next start.
    m_port.readWaiting();
    pump(PumpAll);
    endDeviceWait(QStringLiteral("Stop"));
    endRun(RunState::Stopped);
    if (!m_held.isEmpty())
        hold(QStringLiteral("the run was stopped; Read Start types them first"));
    m_journal.sync();
    emit stopped();
}

void ReadingLoop::endRun(RunState state) {
    if (m_column != 0)
        m_rowLeftOpen = true;
    m_column = 0;
    m_delivery.stop();
    m_launchWatch.stop();
    m_requestTimer.stop();
    m_identifyWait.stop();
    m_identifying = false;
    m_reopenRetry.stop();
    m_deviceWatch.cancel();
    setState(state);
    m_port.setPortOpen(false);
    m_platform.endTurn();
    m_platform.endTyping();
}

void ReadingLoop::endDeviceWait(const QString& by) {
    if (m_state != RunState::WaitingForDevice)
        return;
    // The record of the gap ends even when the device never came back.
    const QDateTime now = m_clock();
    m_journal.portEvent(now, m_portLabel, "device not back",
                        QStringLiteral("%1 after %2 s away (from %3)")
                            .arg(by)
                            .arg(m_away.elapsed() / 1000.0, 0, 'f', 1)
                            .arg(m_wentAway.toString(Qt::ISODateWithMs)));
    noteJournalFailure();
}

void ReadingLoop::abandon() {
    endDeviceWait(QStringLiteral("Parvelo was closed"));
    endRun(RunState::Stopped);
    for (Reading& r : m_held.all())
        m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::NotTyped,
                          QStringLiteral("Parvelo was closed"));
    m_held.clear();
    m_journal.sync();
}

void ReadingLoop::setSuspended(bool suspended) {
    m_suspended = suspended;
    if (suspended)
        m_platform.endTurn();
    else
        scheduleDelivery(0);
}

void ReadingLoop::pump(PumpMode mode) {
    // A burst is taken in portions, so the window answers in between.
    QElapsedTimer spent;
    spent.start();
    while (isRunning() && m_port.InBufferCount() > 0) {
        if (mode == PumpPortion && spent.elapsed() >= PumpBudgetMs) {
            if (!std::exchange(m_pumpPosted, true))
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        m_pumpPosted = false;
                        pump();
                    },
                    Qt::QueuedConnection);
            return;
        }
        const LineAssembler::Outcome outcome = m_assembler.feed(m_port.Input().at(0));
        if (outcome == LineAssembler::Outcome::LineCompleted)
            takeLine();
        else if (outcome == LineAssembler::Outcome::LineTooLong)
            refuseLongLine();
    }
}

void ReadingLoop::refuseLongLine() {
    const QDateTime now = m_clock();
    const QString id = m_journal.received(now, m_portLabel, m_assembler.takeLine());
    m_port.takeDamaged(); // of this line, which is judged as a whole
    m_journal.outcome(now, m_portLabel, id, Journal::Outcome::NotTyped,
                      QStringLiteral("no line end in %1 bytes").arg(LineAssembler::MaxLine));
    noteJournalFailure();
    if (!std::exchange(m_longLineReported, true))
        m_log.insert(logLine(QStringLiteral("No line end in %1 bytes: check the speed, the data "
                                            "bits and the line end of the instrument.")
                                 .arg(LineAssembler::MaxLine)));
}

void ReadingLoop::refuseGarbled(Reading& r, const QString& received, const QString& why) {
    // Shown on one log line, whatever control characters it holds.
    QString shown = received;
    for (QChar& c : shown)
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    r.text = shown;
    notTyped(r, why);
    noteJournalFailure();
    if (!std::exchange(m_garbleReported, true))
        m_log.insert(logLine(QStringLiteral("The data looks garbled: check the speed, data bits "
                                            "and parity of the instrument.")));
}

void ReadingLoop::takeLine() {
    Reading r;
    r.raw = m_assembler.takeLine();
    r.receivedAt = m_clock();
    // The answer to Identify names the instrument; it is no reading.
    if (m_identifying) {
        identified(LineText::decode(r.raw, m_data.encoding));
        return;
    }
    // In the journal before anything else, so that a crash cannot lose it.
    r.id = m_journal.received(r.receivedAt, m_portLabel, r.raw);
    noteJournalFailure();
    const QString received = LineText::decode(r.raw, m_data.encoding);
    if (!std::exchange(m_recentOfThisRun, true))
        m_recent.clear();
    m_recent << received;
    if (m_recent.size() > RecentLines)
        m_recent.removeFirst();
    if (const auto garbled =
            GarbleCheck::garbled(r.raw, received, m_data.encoding, m_port.takeDamaged())) {
        refuseGarbled(r, received, *garbled);
        return;
    }
    QString why;
    const std::optional<QString> data = m_data.shape(received, &why);
    if (!data) {
        skipped(r, received, why);
        return;
    }
    AppError error;
    int column = m_column;
    const QString end = m_data.keyAfter(&column);
    qsizetype dataAt = 0;
    const auto line = LineText::compose(*data, m_app.InsertDate, m_app.InsertTime,
                                        ConnectTime::dateText(r.receivedAt),
                                        ConnectTime::timeText(r.receivedAt), &error, end, &dataAt);
    if (!line) {
        r.text = *data;
        errorPath(error, false, &r);
        return;
    }
    m_column = column;
    const bool endRow = std::exchange(m_rowLeftOpen, false);
    r.text = endRow ? QStringLiteral("\r\n") + *line : *line;
    r.dataAt = dataAt + (endRow ? 2 : 0);
    r.dataLength = data->size();
    if (!m_held.push(r)) {
        if (!m_holdFullReported) {
            m_holdFullReported = true;
            m_log.insert(logLine(
                QStringLiteral("%1 readings are held, the most Parvelo keeps: readings that "
                               "arrive now are not typed. The journal keeps them all.")
                    .arg(m_held.size())));
        }
        notTyped(r, QStringLiteral("too many readings are held"));
        return;
    }
    if (m_state == RunState::Holding)
        markHeld();
    // In a stream of lines, wait a moment so that the lines arriving meanwhile
    // are typed together: each call to the target costs round trips to the
    // window system, whether it types one letter or many. A line after a
    // pause goes at once.
    const bool streaming = m_lastTyped.isValid() && m_lastTyped.elapsed() < CoalesceMs;
    scheduleDelivery(streaming ? CoalesceMs : 0);
}

void ReadingLoop::scheduleDelivery(int delayMs) {
    if (delayMs > 0) {
        if (!m_delivery.isActive())
            m_delivery.start(delayMs);
        return;
    }
    // Right after the events that are waiting (a click on Stop first): a
    // posted call, cheaper per line than a timer.
    if (m_deliveryPosted)
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_deliveryPosted = false;
            deliver();
        },
        Qt::QueuedConnection);
}

void ReadingLoop::deliver() {
    m_delivery.stop();
    if (!isRunning() || m_suspended)
        return;
    if (m_held.isEmpty()) {
        m_waiting.invalidate();
        return;
    }
    if (Failure f = m_platform.activate(m_app.TaskId)) {
        if (targetGone(*f))
            errorPath(*f, true);
        else
            waitForTarget(*f);
        // The turn is kept while the focus is on its way: another Parvelo
        // would take the focus for its own target, and back and forth.
        if (targetHeld() || !isRunning())
            m_platform.endTurn();
        return;
    }
    // Whatever the typing does, the turn ends with it.
    const auto endTurn = qScopeGuard([this] { m_platform.endTurn(); });
    m_waiting.invalidate();
    if (targetHeld()) {
        m_log.insert(logLine(QStringLiteral("The target takes keys again: typing the %1 held "
                                            "readings.")
                                 .arg(m_held.size())));
        m_heldReason.clear();
        m_holdFullReported = false;
        if (m_state == RunState::Holding)
            setState(RunState::Reading);
    }
    planKeys();
    const ReadingDelivery::Typed out = m_typing.typeFront(m_held, m_oneByOne);
    m_oneByOne = false;
    m_lastTyped.start();
    const Failure f = out.failure;
    const bool heldTyped = out.heldTyped;
    noteJournalFailure();
    if (heldTyped)
        emit heldChanged();
    if (f && f->number == Err::TargetNotFocused) {
        Reading& r = m_held.front();
        // Cut right after a cell's text: the Delete that ends the cell is
        // not typed later, as the user may have left the cell meanwhile,
        // and Delete would clear the one the cursor is on then.
        if (r.typedChars > 0 && r.typedChars < r.keys.size() &&
            r.keys.at(r.typedChars) == QChar(KeyActions::DeleteMark))
            ++r.typedChars;
        if (r.typedChars > 0) {
            const QString where =
                QStringLiteral("after %1 of %2 characters").arg(r.typedChars).arg(r.keys.size());
            m_log.insert(
                logLine(QStringLiteral("[cut %1; the rest is held] ").arg(where) + r.shown()));
            m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::Cut,
                              where + QStringLiteral(": ") + f->message);
            m_held.markFront();
        }
        m_waiting.start();
        hold(f->message);
        scheduleDelivery(RetryMs);
        return;
    }
    if (f && f->number == Err::TypingPaused) {
        scheduleDelivery(SettleRetryMs); // the rest goes once the keyboard is quiet
        return;
    }
    if (f && f->number == Err::TypingYielded) {
        scheduleDelivery(0);
        return;
    }
    if (f && out.readings > 1 && out.chars == 0) {
        m_oneByOne = true; // which of them cannot be typed?
        scheduleDelivery(0);
        return;
    }
    if (f) {
        // This reading cannot be typed at all; those behind it may be.
        Reading failed = m_held.front();
        m_held.pop();
        errorPath(*f, false, &failed);
        return;
    }
    if (!m_held.isEmpty())
        scheduleDelivery(0);
}

void ReadingLoop::planKeys() {
    if (!m_sheet.known()) {
        m_sheet.learn(SpreadsheetEntry::recognise(m_app.ExeFileName, m_platform.targetClass(),
                                                  m_platform.targetTitle()));
        if (m_sheet.sheet() != Spreadsheet::None)
            m_log.insert(logLine(QStringLiteral("The target is %1, a spreadsheet: each reading "
                                                "goes into its cell as data, never as a "
                                                "formula.")
                                     .arg(SpreadsheetEntry::nameOf(m_sheet.sheet()))));
    }
    int count = 0;
    for (Reading& r : m_held.all()) {
        if (++count > ReadingDelivery::BatchLines)
            break;
        if (r.planned)
            continue;
        QStringList notes;
        const SpreadsheetEntry::Keys k = m_sheet.plan(r.text, r.dataAt, r.dataLength, &notes);
        r.keys = k.keys;
        r.shownInCell = k.shown;
        r.planned = true;
        for (const QString& note : notes)
            m_log.insert(logLine(note));
    }
}

void ReadingLoop::waitForTarget(const AppError& why) {
    if (!m_waiting.isValid())
        m_waiting.start();
    // Starting programs and dialogs take seconds at least: say so at once.
    // A focus that is only slow to move gets a moment first.
    if (targetHeld() || why.number == Err::TargetBusy || why.number == Err::TargetStarting ||
        why.number == Err::KeyboardHeld || m_waiting.elapsed() >= GraceMs)
        hold(why.message);
    // Another Parvelo leaves the turn for a moment only: look for it often.
    scheduleDelivery(targetHeld() && why.number != Err::OtherTyping ? RetryMs : QuickRetryMs);
}

bool ReadingLoop::targetHeld() const {
    return m_state == RunState::Holding ||
           (m_state == RunState::WaitingForDevice && !m_heldReason.isEmpty());
}

void ReadingLoop::hold(const QString& reason) {
    // While the device is away the run keeps waiting for it; the reason
    // says the target holds the readings too.
    if (m_state == RunState::Reading)
        setState(RunState::Holding);
    if (reason != m_heldReason) {
        m_heldReason = reason;
        m_log.insert(logLine(QStringLiteral("Readings are held: %1.").arg(reason)));
    }
    markHeld();
    emit heldChanged();
}

void ReadingLoop::markHeld() {
    m_held.markRest([this](const Reading& r) {
        m_log.insert(logLine(QStringLiteral("[held] ") + r.shown()));
        m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::Held, m_heldReason);
    });
}

void ReadingLoop::skipped(const Reading& r, const QString& text, const QString& why) {
    m_log.insert(logLine(QStringLiteral("[skipped] ") + text));
    m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::Skipped, why);
    noteJournalFailure();
}

void ReadingLoop::notTyped(Reading& r, const QString& why) {
    m_log.insert(logLine(QStringLiteral("[not typed] ") + r.shown()));
    m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::NotTyped, why);
}

void ReadingLoop::errorPath(const AppError& error, bool gone, Reading* failed) {
    endRun(RunState::Halted);
    const int kept = gone ? 0 : m_held.size();
    const int notTypedCount = m_held.size() + (failed ? 1 : 0);
    // The readings first, the error last: the end of the log is what shows.
    if (failed)
        notTyped(*failed, error.message);
    if (gone) {
        // Nothing will take them: list them so the user can enter them.
        for (Reading& r : m_held.all())
            notTyped(r, error.message);
        m_held.clear();
    } else if (kept) {
        m_heldReason = QStringLiteral("the run ended with an error; Read Start types them first");
        markHeld();
    }
    if (error.number != Err::PathFileAccess) {
        m_log.insert(logLine(QStringLiteral("The reception error occurred.")));
        m_log.insert(logLine(error.message));
        m_log.insert(logLine(
            QStringLiteral("%1 readings were received but not typed").arg(notTypedCount) +
            (kept ? QStringLiteral("; %1 of them are held, and Read Start types them first.")
                        .arg(kept)
                  : QStringLiteral("."))));
    }
    m_journal.sync();
    emit heldChanged();
    emit halted(error);
}

void ReadingLoop::waitForDevice(const AppError& why) {
    // The port is closed already. The instrument is not asked while it
    // cannot answer.
    m_requestTimer.stop();
    pump(PumpAll); // the whole lines received before it went
    setState(RunState::WaitingForDevice);
    m_wentAway = m_clock();
    m_away.start();
    // The rest of a line cut by the gap is lost: never join its start to
    // what comes after the return.
    if (!m_assembler.pending().isEmpty()) {
        Reading cut;
        cut.raw = m_assembler.pending();
        cut.id = m_journal.received(m_wentAway, m_portLabel, cut.raw);
        cut.text = LineText::decode(cut.raw, m_data.encoding);
        notTyped(cut, QStringLiteral("the device went away before the end of the line"));
    }
    m_assembler.reset();
    m_log.insert(logLine(QStringLiteral("%1 Waiting for it to come back since %2; Stop ends the "
                                        "wait.")
                             .arg(why.message, ConnectTime::timeText(m_wentAway))));
    m_journal.portEvent(m_wentAway, m_portLabel, "device gone", why.message);
    noteJournalFailure();
    m_deviceWatch.watch(m_device);
    emit heldChanged();
}

void ReadingLoop::reopenDevice() {
    if (m_state != RunState::WaitingForDevice)
        return;
    if (Failure f = m_port.reopen()) {
        if (m_reopenTries == 0)
            m_log.insert(logLine(QStringLiteral("%1 is back but cannot be opened yet: %2")
                                     .arg(m_device.node, f->message)));
        if (++m_reopenTries < ReopenTries) {
            m_reopenRetry.start(ReopenRetryMs);
            return;
        }
        m_log.insert(logLine(QStringLiteral("%1 still cannot be opened. Unplug it and plug it in "
                                            "again, or press Stop.")
                                 .arg(m_device.node)));
        m_deviceWatch.watch(m_device);
        return;
    }
    const QDateTime now = m_clock();
    const double seconds = m_away.elapsed() / 1000.0;
    m_log.insert(logLine(QStringLiteral("%1 is back at %2, after %3 s away (from %4): reading "
                                        "goes on.")
                             .arg(m_device.node, ConnectTime::timeText(now))
                             .arg(seconds, 0, 'f', 1)
                             .arg(ConnectTime::timeText(m_wentAway))));
    m_journal.portEvent(
        now, m_portLabel, "device back",
        QStringLiteral("away from %1 to %2 (%3 s)")
            .arg(m_wentAway.toString(Qt::ISODateWithMs), now.toString(Qt::ISODateWithMs))
            .arg(seconds, 0, 'f', 1));
    noteJournalFailure();
    setState(!m_heldReason.isEmpty() && !m_held.isEmpty() ? RunState::Holding : RunState::Reading);
    if (m_data.requestEveryMs > 0 && !m_data.request.isEmpty())
        m_requestTimer.start(m_data.requestEveryMs);
    emit heldChanged();
    pump();
    scheduleDelivery(0);
}

void ReadingLoop::noteJournalFailure() {
    if (const Failure f = m_journal.takeFailure())
        m_log.insert(logLine(f->message));
}
