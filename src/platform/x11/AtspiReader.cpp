#include "platform/x11/AtspiReader.h"

#include "platform/KeyActions.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDate>
#include <QLocale>
#include <QTime>

#include <cmath>
#include <optional>

namespace {

const QString Accessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString Text = QStringLiteral("org.a11y.atspi.Text");
const QString EventObject = QStringLiteral("org.a11y.atspi.Event.Object");

bool isMove(QChar c) {
    return c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QChar(KeyActions::DownMark) ||
           c == QChar(KeyActions::RightMark);
}

// A cell shows a number in its own way ("12.50" as 12.5): the same number
// is the same reading.
bool sameCell(const QString& typed, const QString& shown) {
    if (typed == shown)
        return true;
    bool a = false, b = false;
    const double x = QLocale::c().toDouble(QString(typed.trimmed()).replace(',', '.'), &a);
    const double y = QLocale::c().toDouble(QString(shown.trimmed()).replace(',', '.'), &b);
    return a && b && x == y;
}

// A date, a time or both as a spreadsheet counts them: days since
// 1899-12-30 (what a cell's number is); nullopt when the text is neither.
std::optional<double> sheetDays(const QString& text) {
    const QStringList parts = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.size() > 2)
        return std::nullopt;
    double days = 0;
    bool any = false;
    for (const QString& part : parts) {
        QDate date;
        for (const char* f : {"yyyy-MM-dd", "yyyy/MM/dd", "yyyy.MM.dd"})
            if (!date.isValid())
                date = QDate::fromString(part, QLatin1String(f));
        QTime time;
        for (const char* f : {"H:mm:ss", "H:mm"})
            if (!time.isValid())
                time = QTime::fromString(part, QLatin1String(f));
        if (date.isValid())
            days += QDate(1899, 12, 30).daysTo(date);
        else if (time.isValid())
            days += time.msecsSinceStartOfDay() / 86400000.0;
        else
            return std::nullopt;
        any = true;
    }
    return any ? std::optional<double>(days) : std::nullopt;
}

} // namespace

AtspiWorker::AtspiWorker() : m_quiet(this), m_find(this) {
    qRegisterMetaType<ReadBack>();
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(QuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &AtspiWorker::quiet);
    m_find.setSingleShot(true);
    m_find.setInterval(500);
    connect(&m_find, &QTimer::timeout, this, &AtspiWorker::findApp);
}

bool AtspiWorker::open() {
    if (m_bus)
        return m_bus->isConnected();
    QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        m_busError = QStringLiteral("there is no D-Bus session; start Parvelo from a desktop "
                                    "session");
        return false;
    }
    const QDBusMessage reply =
        session.call(QDBusMessage::createMethodCall(
                         QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                         QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
                     QDBus::Block, 4 * CallMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_busError = QStringLiteral("the desktop has no accessibility bus; install the package "
                                    "at-spi2-core");
        return false;
    }
    m_bus = QDBusConnection::connectToBus(reply.arguments().value(0).toString(),
                                          QStringLiteral("parvelo-accessibility"));
    if (!m_bus->isConnected()) {
        m_busError = QStringLiteral("the accessibility bus does not answer (%1)")
                         .arg(m_bus->lastError().message());
        return false;
    }
    // Programs send only the events someone has asked the registry for.
    for (const char* event : {"object:active-descendant-changed", "object:text-changed:insert"}) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("RegisterEvent"));
        m << QString::fromLatin1(event);
        m_bus->call(m, QDBus::Block, CallMs);
    }
    m_bus->connect(QString(), QString(), EventObject, QStringLiteral("ActiveDescendantChanged"),
                   this, SLOT(onCursorMoved(QDBusMessage)));
    m_bus->connect(QString(), QString(), EventObject, QStringLiteral("TextChanged"), this,
                   SLOT(onTextInserted(QDBusMessage)));
    return true;
}

void AtspiWorker::follow(qint64 pid, const QString& windowClass) {
    // The same program in a new run: readings of the run before are still
    // read back, and what it lacks is said again.
    if (pid == m_pid && pid > 0 && windowClass == m_class) {
        if (m_told)
            emit unreadable(m_reason);
        return;
    }
    stop();
    m_pid = pid;
    m_class = windowClass;
    m_told = false;
    m_findTries = 0;
    if (windowClass.contains(QLatin1String("gnumeric"), Qt::CaseInsensitive)) {
        giveUp(QStringLiteral("Gnumeric does not show its cells to the desktop's accessibility "
                              "interface"));
        return;
    }
    m_sheet = windowClass.contains(QLatin1String("libreoffice-calc"), Qt::CaseInsensitive) ||
              windowClass.contains(QLatin1String("soffice"), Qt::CaseInsensitive);
    if (!open()) {
        giveUp(m_busError);
        return;
    }
    if (pid <= 0) {
        giveUp(QStringLiteral("the target window does not say which program it belongs to"));
        return;
    }
    findApp();
}

void AtspiWorker::findApp() {
    if (m_pid <= 0 || !m_app.isEmpty())
        return;
    const QDBusMessage apps = call({QStringLiteral("org.a11y.atspi.Registry"),
                                    QStringLiteral("/org/a11y/atspi/accessible/root")},
                                   Accessible, QStringLiteral("GetChildren"));
    const QDBusArgument list = apps.arguments().value(0).value<QDBusArgument>();
    std::vector<QString> names;
    if (apps.type() == QDBusMessage::ReplyMessage &&
        list.currentType() == QDBusArgument::ArrayType) {
        list.beginArray();
        while (!list.atEnd()) {
            QString service;
            QDBusObjectPath path;
            list.beginStructure();
            list >> service >> path;
            list.endStructure();
            names.push_back(service);
        }
        list.endArray();
    }
    for (const QString& name : names)
        if (isTarget(name))
            return;
    // A program that has just started joins the bus a moment after its window shows.
    if (++m_findTries < 10) {
        m_find.start();
        return;
    }
    giveUp(m_class.contains(QLatin1String("libreoffice"), Qt::CaseInsensitive)
               ? QStringLiteral("LibreOffice shows its cells to the desktop's accessibility "
                                "interface only with its GTK look: install the package "
                                "libreoffice-gtk3, then start LibreOffice from Parvelo again")
               : QStringLiteral("the target program does not take part in the desktop's "
                                "accessibility interface (AT-SPI)"));
}

bool AtspiWorker::isTarget(const QString& service) {
    if (!m_app.isEmpty() || m_pid <= 0)
        return service == m_app;
    // Until the target is found, each program that speaks is asked who it
    // is: its first events may come before the registry lists it.
    auto known = m_others.find(service);
    if (known != m_others.end())
        return false;
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
    m << service;
    if (m_bus->call(m, QDBus::Block, CallMs).arguments().value(0).toLongLong() != m_pid) {
        m_others.insert(service);
        return false;
    }
    m_app = service;
    m_find.stop();
    return true;
}

void AtspiWorker::expect(const ExpectedText& text) {
    if (m_told)
        return;
    if (m_moves.empty() && m_inserts.empty())
        m_quiet.start();
    if (m_sheet) {
        QString cell;
        const qsizetype firstMove = m_moves.size();
        for (int i = 0; i < text.keys.size(); ++i) {
            const QChar c = text.keys.at(i);
            if (c == QLatin1Char('\n') || c == QChar(KeyActions::DeleteMark))
                continue;
            if (!isMove(c)) {
                cell += c;
                continue;
            }
            m_moves.push_back({text.id, c, cell, cell.contains(text.data), false});
            cell.clear();
        }
        if (qsizetype(m_moves.size()) > firstMove)
            m_moves.back().last = true;
        m_tally[text.id] = {};
        return;
    }
    QString typed = text.keys;
    typed.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace('\r', '\n');
    typed.remove(QChar(KeyActions::DeleteMark))
        .remove(QChar(KeyActions::DownMark))
        .remove(QChar(KeyActions::RightMark));
    Insert in;
    in.id = text.id;
    in.text = typed;
    in.ucs = typed.toUcs4(); // the interface counts characters
    in.need = int(in.ucs.size());
    m_inserts.push_back(in);
}

void AtspiWorker::retract(const QString& id) {
    // Keys of these readings may or may not have gone out: what comes next
    // cannot be matched to them, so start afresh.
    auto moves =
        std::find_if(m_moves.begin(), m_moves.end(), [&](const Move& m) { return m.id == id; });
    m_moves.erase(moves, m_moves.end());
    auto ins = std::find_if(m_inserts.begin(), m_inserts.end(),
                            [&](const Insert& i) { return i.id == id; });
    m_inserts.erase(ins, m_inserts.end());
}

void AtspiWorker::stop() {
    m_moves.clear();
    m_inserts.clear();
    m_tally.clear();
    m_quiet.stop();
    m_find.stop();
    m_app.clear();
    m_others.clear();
    m_pid = 0;
    m_cursor = {};
    m_cursorIndex = -1;
    m_textObject = {};
}

void AtspiWorker::onCursorMoved(const QDBusMessage& event) {
    if (!m_sheet || !isTarget(event.service()))
        return;
    const QDBusArgument any =
        event.arguments().value(3).value<QDBusVariant>().variant().value<QDBusArgument>();
    Ref now;
    QDBusObjectPath path;
    any.beginStructure();
    any >> now.service >> path;
    any.endStructure();
    now.path = path.path();
    const int index = event.arguments().value(1).toInt(); // of the cell in its sheet
    if (!now.valid())
        return;
    // The sheet names its cell again as its text is taken (Return, Tab),
    // then the one it moves to: the cell a key left is the one named last.
    const bool moved = m_cursor.valid() && index != m_cursorIndex;
    const Ref left = m_cursor;
    m_cursor = now;
    m_cursorIndex = index;
    if (!moved || m_moves.empty())
        return; // or the user moved it
    const Move move = m_moves.front();
    m_moves.pop_front();
    if (!move.cell.isEmpty())
        checkCell(move, left);
    if (move.last) {
        const Tally t = m_tally[move.id];
        m_tally.erase(move.id);
        give({move.id, t.changed ? ReadBack::Result::Changed : ReadBack::Result::Verified, t.where,
              true, t.holds});
    }
    m_quiet.start();
}

void AtspiWorker::checkCell(const Move& move, const Ref& cell) {
    Tally& t = m_tally[move.id];
    const QString name = nameOf(cell);
    const QString shown = textOf(cell, 0, -1);
    if (move.data || t.where.isEmpty())
        t.where = name;
    // The reading's own cell must show it; a date or time cell Parvelo
    // added must only not be empty.
    bool same = move.data ? sameCell(move.cell, shown) : !shown.isEmpty();
    if (!same) {
        // A date or a time is shown the sheet's way: its number decides.
        const std::optional<double> days = sheetDays(move.cell);
        if (days) {
            const QDBusMessage r =
                call(cell, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                     {QStringLiteral("org.a11y.atspi.Value"), QStringLiteral("CurrentValue")});
            const double value = r.arguments().value(0).value<QDBusVariant>().variant().toDouble();
            same = std::abs(value - *days) < 1e-6;
        }
    }
    if (!same) {
        t.changed = true;
        t.where = name;
        t.holds = shown;
    }
}

void AtspiWorker::onTextInserted(const QDBusMessage& event) {
    const QVariantList a = event.arguments();
    if (m_sheet || !a.value(0).toString().startsWith(QLatin1String("insert")) ||
        !isTarget(event.service()))
        return;
    if (m_inserts.empty())
        return;
    // Other texts of the program change too (a window's title): the text
    // the keys go to is the one whose insertion carries the next characters
    // expected, and it is followed from then on.
    if (m_textObject.valid() && event.path() != m_textObject.path)
        return;
    if (!m_textObject.valid()) {
        const QList<uint> inserted = a.value(3).value<QDBusVariant>().variant().toString().toUcs4();
        const Insert& front = m_inserts.front();
        if (inserted.isEmpty() || front.ucs.mid(front.got, inserted.size()) != inserted)
            return;
        m_textObject = {event.service(), event.path()};
    }
    int offset = a.value(1).toInt();
    int length = a.value(2).toInt();
    while (length > 0 && !m_inserts.empty()) {
        Insert& in = m_inserts.front();
        if (in.start < 0)
            in.start = offset;
        const int take = std::min(length, in.need - in.got);
        in.got += take;
        offset += take;
        length -= take;
        if (in.got < in.need)
            break;
        const QString holds = textOf(m_textObject, in.start, in.start + in.need);
        const QString where = QStringLiteral("at character %1").arg(in.start);
        give({in.id, holds == in.text ? ReadBack::Result::Verified : ReadBack::Result::Changed,
              where, false, holds});
        m_inserts.pop_front();
    }
    m_quiet.start();
}

void AtspiWorker::quiet() {
    // Keys went out and the target showed no sign of them: the oldest
    // reading is unverified, and what follows is matched afresh.
    if (m_app.isEmpty() && m_pid > 0) {
        m_quiet.start(); // still looking for the target on the bus
        return;
    }
    QString id;
    if (!m_moves.empty())
        id = m_moves.front().id;
    else if (!m_inserts.empty())
        id = m_inserts.front().id;
    if (id.isEmpty())
        return;
    give({id, ReadBack::Result::Unverified, QString(), m_sheet,
          QStringLiteral("the target showed no sign of the keys within %1 s").arg(QuietMs / 1000)});
    while (!m_moves.empty() && m_moves.front().id == id)
        m_moves.pop_front();
    while (!m_inserts.empty() && m_inserts.front().id == id)
        m_inserts.pop_front();
    m_tally.erase(id);
    m_textObject = {}; // the keys may go to another text now
    if (!m_moves.empty() || !m_inserts.empty())
        m_quiet.start();
}

void AtspiWorker::give(const ReadBack& result) {
    emit done(result);
}

void AtspiWorker::giveUp(const QString& reason) {
    if (m_told)
        return;
    m_told = true;
    m_reason = reason;
    m_moves.clear();
    m_inserts.clear();
    emit unreadable(reason);
}

QDBusMessage AtspiWorker::call(const Ref& at, const QString& interface, const QString& method,
                               const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(at.service, at.path, interface, method);
    m.setArguments(args);
    return m_bus->call(m, QDBus::Block, CallMs);
}

QString AtspiWorker::textOf(const Ref& at, int start, int end) {
    return call(at, Text, QStringLiteral("GetText"), {start, end}).arguments().value(0).toString();
}

QString AtspiWorker::nameOf(const Ref& at) {
    const QDBusMessage r = call(at, QStringLiteral("org.freedesktop.DBus.Properties"),
                                QStringLiteral("Get"), {Accessible, QStringLiteral("Name")});
    return r.arguments().value(0).value<QDBusVariant>().variant().toString();
}

AtspiReader::AtspiReader() : m_worker(new AtspiWorker) {
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &AtspiWorker::done, this, &TargetReader::readBack);
    connect(m_worker, &AtspiWorker::unreadable, this, &TargetReader::unreadable);
    m_thread.setObjectName(QStringLiteral("read-back"));
    m_thread.start();
    // Programs learn that someone listens a moment after it is said: say it
    // now, long before the first reading, whose first keys would go unseen.
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->open(); });
}

AtspiReader::~AtspiReader() {
    m_thread.quit();
    m_thread.wait();
}

void AtspiReader::follow(qint64 pid, const QString& windowClass) {
    QMetaObject::invokeMethod(m_worker,
                              [w = m_worker, pid, windowClass] { w->follow(pid, windowClass); });
}

void AtspiReader::expect(const ExpectedText& text) {
    QMetaObject::invokeMethod(m_worker, [w = m_worker, text] { w->expect(text); });
}

void AtspiReader::retract(const QString& id) {
    QMetaObject::invokeMethod(m_worker, [w = m_worker, id] { w->retract(id); });
}

std::unique_ptr<TargetReader> createTargetReader() {
    return std::make_unique<AtspiReader>();
}
