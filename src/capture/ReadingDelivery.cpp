#include "ReadingDelivery.h"

#include "Journal.h"
#include "platform/DesktopPlatform.h"
#include "platform/KeyActions.h"
#include "platform/TargetReader.h"

#include <algorithm>
#include <vector>

namespace {
QString logLine(const QString& text) {
    return text + QStringLiteral("\r\n");
}
// Readings still to be read back are remembered this far; a target that
// never answers cannot make the program grow.
constexpr std::size_t MaxWatched = 4096;
} // namespace

ReadingDelivery::ReadingDelivery(DesktopPlatform& platform, TargetReader* reader, Journal& journal,
                                 std::function<void(const QString&)> log, Clock clock,
                                 QObject* parent)
    : QObject(parent), m_platform(platform), m_reader(reader), m_journal(journal),
      m_log(std::move(log)), m_clock(std::move(clock)) {
    if (m_reader) {
        connect(m_reader, &TargetReader::readBack, this, &ReadingDelivery::onReadBack);
        connect(m_reader, &TargetReader::unreadable, this, &ReadingDelivery::onUnreadable);
    }
}

void ReadingDelivery::startRun(const QString& portLabel) {
    m_portLabel = portLabel;
    m_following = false;
    m_verified = m_changed = 0;
    m_changeTold = m_unverifiedTold = false;
    // Readings typed just before Stop are still being read back: they keep
    // their place in m_shown.
    emit checked();
}

void ReadingDelivery::follow() {
    if (m_following || !m_reader)
        return;
    m_following = true;
    m_reader->follow(m_platform.targetPid(), m_platform.targetClass());
}

ReadingDelivery::Typed ReadingDelivery::typeFront(HeldReadings& held, bool oneByOne) {
    follow();
    // Readings waiting together are typed in one go: the fixed cost of a
    // call (focus checks, keyboard state, round trips) is paid once for all.
    QString text;
    std::vector<qsizetype> ends; // of each reading in text
    for (const Reading& r : held.all()) {
        if (!ends.empty() && (oneByOne || int(ends.size()) == BatchLines ||
                              text.size() + r.keys.size() - r.typedChars > BatchChars))
            break;
        if (!r.planned)
            break; // planned in the next call
        // The rest of a reading cut before is looked for, not reported: the
        // reading went in two pieces.
        if (m_reader)
            m_reader->expect({r.typedChars ? QLatin1Char('~') + r.id : r.id,
                              r.keys.mid(r.typedChars), r.text.mid(r.dataAt, r.dataLength)});
        text += QStringView(r.keys).mid(r.typedChars);
        ends.push_back(text.size());
    }
    Typed result;
    result.readings = int(ends.size());
    int typed = 0;
    Failure f = m_platform.typeText(text, &typed);
    // A pause in the middle of a reading would let Stop, or the end of the
    // program, cut it in two in the target: finish that reading first.
    while (f && f->number == Err::TypingYielded) {
        const auto end = std::upper_bound(ends.begin(), ends.end(), qsizetype(typed));
        if (end == ends.end() || (end != ends.begin() && *(end - 1) == typed) || typed == 0)
            break;
        int more = 0;
        f = m_platform.typeText(text.mid(typed, *end - typed), &more);
        typed += more;
    }
    result.failure = f;
    result.chars = typed;
    const QString title = m_platform.targetTitle();
    qsizetype start = 0;
    for (const qsizetype end : ends) {
        Reading& r = held.front();
        if (typed < end) {
            if (m_reader)
                m_reader->retract(r.typedChars ? QLatin1Char('~') + r.id : r.id,
                                  text.mid(start, std::max<qsizetype>(0, typed - start)));
            r.typedChars += int(std::max<qsizetype>(0, typed - start));
            break;
        }
        QString shown = r.shown();
        QString detail = title;
        if (!r.shownInCell.isEmpty()) {
            const QString shows = QStringLiteral("the cell shows \"%1\"").arg(r.shownInCell);
            shown += QStringLiteral(" [") + shows + QLatin1Char(']');
            detail += QStringLiteral("; ") + shows;
        }
        m_log(logLine(shown));
        m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::Typed, detail);
        if (m_reader && r.typedChars == 0) {
            if (m_shown.size() == MaxWatched)
                m_shown.pop_front();
            m_shown.emplace_back(r.id, r.shown());
        }
        result.heldTyped = result.heldTyped || r.markedHeld;
        held.pop();
        start = end;
    }
    return result;
}

void ReadingDelivery::onReadBack(const ReadBack& r) {
    const auto it = std::find_if(m_shown.begin(), m_shown.end(),
                                 [&](const auto& s) { return s.first == r.id; });
    if (it == m_shown.end())
        return; // not watched, or long ago
    const QString shown = it->second;
    m_shown.erase(it);
    switch (r.result) {
    case ReadBack::Result::Verified:
        ++m_verified;
        m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::Verified, r.where);
        break;
    case ReadBack::Result::Changed: {
        ++m_changed;
        const QString holds =
            (r.cell ? QStringLiteral("the cell shows \"%1\"") : QStringLiteral("it holds \"%1\""))
                .arg(r.holds);
        m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::Changed,
                          r.where + QStringLiteral(": ") + holds);
        m_log(logLine(shown + QStringLiteral(" [changed by the target: ") + holds +
                      QLatin1Char(']')));
        if (!m_changeTold) {
            m_changeTold = true;
            m_log(logLine(QStringLiteral(
                "The target changed a reading as it was typed (the line marked \"changed by the "
                "target\"). Its automatic corrections do this: in LibreOffice, switch off what "
                "changed it under Tools > AutoCorrect Options; in other programs, their "
                "autocorrect or autocomplete settings.")));
        }
        break;
    }
    case ReadBack::Result::Unverified:
        m_journal.outcome(m_clock(), m_portLabel, r.id, Journal::Outcome::Unverified, r.holds);
        if (!m_unverifiedTold) {
            m_unverifiedTold = true;
            m_log(logLine(QStringLiteral("A reading could not be read back from the target (%1): "
                                         "see that it landed as sent.")
                              .arg(r.holds)));
        }
        break;
    }
    emit checked();
}

void ReadingDelivery::onUnreadable(const QString& reason) {
    m_shown.clear();
    m_journal.portEvent(m_clock(), m_portLabel, "unverified", reason);
    m_log(logLine(QStringLiteral("Parvelo cannot read back what lands in this target: %1. Typing "
                                 "goes on; what the target does with the readings is not "
                                 "checked.")
                      .arg(reason)));
}
