#include "platform/x11/AtspiReader.h"

#include "platform/KeyActions.h"
#include "platform/TextAlign.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

#include <cmath>
#include <functional>
#include <optional>

namespace {

const QString Accessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString Text = QStringLiteral("org.a11y.atspi.Text");

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

AtspiWorker::AtspiWorker() : m_find(this), m_look(this) {
    qRegisterMetaType<ReadBack>();
    m_find.setSingleShot(true);
    m_find.setInterval(500);
    connect(&m_find, &QTimer::timeout, this, &AtspiWorker::findApp);
    m_look.setInterval(LookMs);
    connect(&m_look, &QTimer::timeout, this, &AtspiWorker::look);
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
    // No events are asked for: once anyone listens to any, every GTK program
    // on the desktop reports every change, and types several times slower.
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
    // The bus knows which process each program on it is.
    QDBusMessage m = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
    m << service;
    if (m_bus->call(m, QDBus::Block, CallMs).arguments().value(0).toLongLong() != m_pid)
        return false;
    m_app = service;
    m_find.stop();
    if (m_sheet && !m_look.isActive())
        m_look.start(IdleLookMs); // where the cursor is before the first reading
    return true;
}

void AtspiWorker::expect(const ExpectedText& text) {
    if (m_told)
        return;
    if (m_sheet) {
        m_moves.add(text.id, text.keys, text.data);
        m_stillSinceMs = QDateTime::currentMSecsSinceEpoch();
        m_look.start(LookMs);
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
    m_inserts.push_back(in);
    // The keys go where the focus is now, as they are about to be typed; a
    // moment later a dialog they open may have it.
    if (!m_textObject.valid() && !m_app.isEmpty())
        m_textObject = focusedText();
    m_stillSinceMs = QDateTime::currentMSecsSinceEpoch();
    // Each look is a call the target answers between its keys: the first
    // waits a moment, as more readings usually follow.
    if (!m_look.isActive())
        m_look.start(FirstLookMs);
}

void AtspiWorker::retract(const QString& id, const QString& typed) {
    // Of this reading only typed went out, to be looked for; the keys of
    // those after it did not.
    m_moves.retract(id);
    auto ins = std::find_if(m_inserts.begin(), m_inserts.end(),
                            [&](const Insert& i) { return i.id == id; });
    m_inserts.erase(ins, m_inserts.end());
    if (m_sheet)
        m_moves.add(QLatin1Char('~') + id, typed, QString());
    else if (!typed.isEmpty())
        expect({QLatin1Char('~') + id, typed, QString()});
}

void AtspiWorker::stop() {
    m_moves.clear();
    m_moves.setStart({});
    m_inserts.clear();
    m_find.stop();
    m_look.stop();
    m_app.clear();
    m_pid = 0;
    m_table = m_nameBox = m_textObject = {};
    m_partTries = 0;
    m_lastCaret = m_lastCount = -1;
}

void AtspiWorker::look() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_told || m_pid <= 0) {
        m_look.stop();
        return;
    }
    if (m_app.isEmpty()) {
        m_stillSinceMs = now; // still looking for the target on the bus
        return;
    }
    if (m_sheet)
        lookSheet(now);
    else
        lookText(now);
}

void AtspiWorker::lookSheet(qint64 now) {
    if (!m_table.valid() || !m_nameBox.valid()) {
        if (findSheetParts())
            return;
        if (++m_partTries == 20) // windows and dialogs come and go meanwhile
            giveUp(QStringLiteral("LibreOffice's sheet or its Name Box cannot be found through "
                                  "the desktop's accessibility interface"));
        return;
    }
    const Cell cursor = Cell::parse(textOf(m_nameBox, 0, -1));
    if (!cursor.valid())
        return; // a range is selected, or a dialog is up
    if (m_moves.empty()) {
        // Between readings: the user may move the cursor.
        m_moves.setStart(cursor);
        m_look.setInterval(IdleLookMs);
        return;
    }
    if (!m_moves.start().valid()) {
        // The first readings went out before the cursor was seen: the start
        // is where the readings the cursor has passed began, found by the
        // first reading's cell.
        for (int n = int(m_moves.moves().size()); n > 0; --n) {
            if (!m_moves.moves()[std::size_t(n - 1)].last)
                continue;
            m_moves.setStart(m_moves.startBefore(cursor, n));
            int first = 1; // moves of the first reading
            while (!m_moves.moves()[std::size_t(first - 1)].last)
                ++first;
            if (m_moves.start().valid() && checkReading(first).result == ReadBack::Result::Verified)
                break;
            m_moves.setStart({});
        }
    }
    const int done = m_moves.doneAt(cursor);
    int whole = 0; // moves of the readings the cursor has passed
    for (int i = 0; i < done; ++i)
        if (m_moves.moves()[std::size_t(i)].last)
            whole = i + 1;
    if (whole > 0) {
        while (whole > 0) {
            int n = 0;
            while (!m_moves.moves()[std::size_t(n)].last)
                ++n;
            give(checkReading(n + 1));
            m_moves.drop(n + 1);
            whole -= n + 1;
        }
        m_stillSinceMs = now;
        return;
    }
    if (now - m_stillSinceMs < QuietMs)
        return;
    // The cursor is not where the keys should have taken it: the first
    // reading's cell says what happened to it (a Return taken by a formula
    // leaves the cursor in it), and the rest are looked for afresh.
    int n = 0;
    while (!m_moves.moves()[std::size_t(n)].last)
        ++n;
    ReadBack r = checkReading(n + 1);
    if (r.result == ReadBack::Result::Verified)
        r = {r.id, ReadBack::Result::Unverified, r.where, true,
             QStringLiteral("the cell cursor is not where its keys should have taken it")};
    give(r);
    const QString first = r.id;
    while (!m_moves.empty()) {
        const QString id = m_moves.moves().front().id;
        if (id != first && m_moves.moves().front().last)
            give({id, ReadBack::Result::Unverified, QString(), true,
                  QStringLiteral("the cell cursor is not where its keys should have taken it")});
        m_moves.drop(1);
    }
    m_moves.setStart(cursor);
}

ReadBack AtspiWorker::checkReading(int n) {
    ReadBack r{m_moves.moves().front().id, ReadBack::Result::Verified, QString(), true, QString()};
    for (int i = 0; i < n; ++i) {
        const SheetMoves::Move& move = m_moves.moves()[std::size_t(i)];
        if (move.typed.isEmpty())
            continue;
        const Cell at = m_moves.left(i);
        if (r.where.isEmpty() || move.data)
            r.where = at.name();
        const QDBusMessage c = call(m_table, QStringLiteral("org.a11y.atspi.Table"),
                                    QStringLiteral("GetAccessibleAt"), {at.row, at.column});
        Ref cell;
        if (c.type() == QDBusMessage::ReplyMessage) {
            const QDBusArgument a = c.arguments().value(0).value<QDBusArgument>();
            QDBusObjectPath path;
            a.beginStructure();
            a >> cell.service >> path;
            a.endStructure();
            cell.path = path.path();
        }
        if (!cell.valid())
            return {r.id, ReadBack::Result::Unverified, at.name(), true,
                    QStringLiteral("the cell %1 cannot be read").arg(at.name())};
        const QString shown = textOf(cell, 0, -1);
        if (shown.isNull())
            return {r.id, ReadBack::Result::Unverified, at.name(), true,
                    QStringLiteral("the target did not answer")};
        // The reading's own cell must show it; a date or time cell Parvelo
        // added must only not be empty.
        bool same = move.data ? sameCell(move.typed, shown) : !shown.isEmpty();
        const std::optional<double> days =
            move.data && !same ? sheetDays(move.typed) : std::nullopt;
        if (days) // a date or a time is shown the sheet's way: its number decides
            same = std::abs(property(cell, QStringLiteral("org.a11y.atspi.Value"),
                                     QStringLiteral("CurrentValue"))
                                .toDouble() -
                            *days) < 1e-6;
        if (!same)
            return {r.id, ReadBack::Result::Changed, at.name(), true, shown};
    }
    return r;
}

bool AtspiWorker::findSheetParts() {
    // The sheet is the one table that shows; the Name Box is the text
    // that holds the cursor's address.
    m_table = m_nameBox = {};
    walk([this](const Ref& at, quint64) {
        const uint role =
            call(at, Accessible, QStringLiteral("GetRole")).arguments().value(0).toUInt();
        if (role == RoleTable && !m_table.valid())
            m_table = at;
        else if (role == RoleText && !m_nameBox.valid() && Cell::parse(textOf(at, 0, -1)).valid())
            m_nameBox = at;
        return m_table.valid() && m_nameBox.valid();
    });
    return m_table.valid() && m_nameBox.valid();
}

void AtspiWorker::lookText(qint64 now) {
    m_look.setInterval(LookMs);
    if (m_inserts.empty()) {
        m_look.stop();
        return;
    }
    if (!m_textObject.valid())
        m_textObject = focusedText();
    bool ok = m_textObject.valid();
    const int caret =
        ok ? property(m_textObject, Text, QStringLiteral("CaretOffset")).toInt(&ok) : -1;
    const int count =
        ok ? property(m_textObject, Text, QStringLiteral("CharacterCount")).toInt(&ok) : -1;
    if (ok && (caret != m_lastCaret || count != m_lastCount)) {
        m_lastCaret = caret;
        m_lastCount = count;
        m_stillSinceMs = now; // keys are still arriving
        return;
    }
    const bool final = now - m_stillSinceMs >= QuietMs;
    if (!ok) {
        m_textObject = {}; // looked for again next time
        if (final)
            decideTexts(QString(), QStringLiteral("the text the keys went to cannot be read"), 0,
                        m_inserts.size());
        return;
    }
    // Still: the text just before the caret must be the readings typed
    // since, in order (each Return is one line break).
    int total = 0;
    for (const Insert& in : m_inserts)
        total += int(in.ucs.size());
    const int from = std::max(0, caret - total);
    const QString before = textOf(m_textObject, from, caret);
    if (before.isNull()) {
        m_textObject = {};
        return;
    }
    std::vector<QString> pieces;
    for (const Insert& in : m_inserts)
        pieces.push_back(in.text);
    if (TextAlign::whole(before, pieces) || final)
        decideTexts(before, QString(), from, pieces.size());
    else if (const std::size_t n = TextAlign::settled(TextAlign::align(before, pieces)); n > 0)
        decideTexts(before, QString(), from, n);
}

void AtspiWorker::decideTexts(const QString& before, const QString& unread, int from,
                              std::size_t count) {
    std::vector<QString> pieces;
    for (const Insert& in : m_inserts)
        pieces.push_back(in.text);
    const std::vector<TextAlign::Found> found = TextAlign::align(before, pieces);
    std::vector<ReadBack> results;
    for (std::size_t i = 0; i < count; ++i) {
        ReadBack r{m_inserts[i].id, ReadBack::Result::Unverified, QString(), false, unread};
        if (unread.isEmpty() && found[i].found) {
            r.result = ReadBack::Result::Verified;
            // The interface counts characters, not UTF-16 units.
            r.where = QStringLiteral("at character %1")
                          .arg(from + before.left(found[i].at).toUcs4().size());
        } else if (unread.isEmpty()) {
            r.result = ReadBack::Result::Changed;
            r.holds = found[i].instead;
        }
        results.push_back(r);
    }
    m_inserts.erase(m_inserts.begin(), m_inserts.begin() + count);
    if (m_inserts.empty())
        m_look.stop();
    for (const ReadBack& r : results) {
        if (r.result != ReadBack::Result::Verified)
            m_textObject = {}; // the focus may have moved within the target
        give(r);
    }
}

AtspiWorker::Ref AtspiWorker::focusedText() {
    Ref found;
    walk([&](const Ref& at, quint64 state) {
        if (!(state & Focused) || !(state & Editable))
            return false;
        const QStringList interfaces = call(at, Accessible, QStringLiteral("GetInterfaces"))
                                           .arguments()
                                           .value(0)
                                           .toStringList();
        if (interfaces.contains(Text))
            found = at;
        return found.valid();
    });
    return found;
}

void AtspiWorker::walk(const std::function<bool(const Ref&, quint64)>& visit) {
    // What shows, from the program down, breadth first; a table's cells are
    // never walked (it claims every cell of the sheet as a child).
    std::deque<std::pair<Ref, int>> queue{
        {{m_app, QStringLiteral("/org/a11y/atspi/accessible/root")}, 0}};
    for (int visited = 0; !queue.empty() && visited < MaxWalk; ++visited) {
        const auto [at, depth] = queue.front();
        queue.pop_front();
        const QList<uint> bits = qdbus_cast<QList<uint>>(
            call(at, Accessible, QStringLiteral("GetState")).arguments().value(0));
        const quint64 state = bits.size() == 2 ? bits[0] | (quint64(bits[1]) << 32) : 0;
        if (depth > 0 && !(state & Showing))
            continue;
        if (visit(at, state))
            return;
        if (state & ManagesDescendants || depth > 40)
            continue;
        const QDBusArgument list = call(at, Accessible, QStringLiteral("GetChildren"))
                                       .arguments()
                                       .value(0)
                                       .value<QDBusArgument>();
        if (list.currentType() != QDBusArgument::ArrayType)
            continue;
        list.beginArray();
        while (!list.atEnd()) {
            Ref child;
            QDBusObjectPath path;
            list.beginStructure();
            list >> child.service >> path;
            list.endStructure();
            child.path = path.path();
            queue.push_back({child, depth + 1});
        }
        list.endArray();
    }
}

QVariant AtspiWorker::property(const Ref& at, const QString& interface, const QString& name) {
    const QDBusMessage r = call(at, QStringLiteral("org.freedesktop.DBus.Properties"),
                                QStringLiteral("Get"), {interface, name});
    if (r.type() != QDBusMessage::ReplyMessage)
        return {};
    return r.arguments().value(0).value<QDBusVariant>().variant();
}

void AtspiWorker::give(const ReadBack& result) {
    if (!result.id.startsWith(QLatin1Char('~'))) // the rest of a cut reading
        emit done(result);
}

void AtspiWorker::giveUp(const QString& reason) {
    if (m_told)
        return;
    m_told = true;
    m_reason = reason;
    m_moves.clear();
    m_look.stop();
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
    const QDBusMessage r = call(at, Text, QStringLiteral("GetText"), {start, end});
    if (r.type() != QDBusMessage::ReplyMessage)
        return QString(); // null: no answer
    QString text = r.arguments().value(0).toString();
    if (text.isNull())
        text = QStringLiteral(""); // empty, which is an answer
    return text;
}

std::unique_ptr<TargetReader> createTargetReader() {
    auto reader = std::make_unique<ThreadedReader<AtspiWorker>>();
    // Joining the accessibility bus takes a moment: now, not at the first reading.
    reader->post([](AtspiWorker* w) { w->open(); });
    return reader;
}
