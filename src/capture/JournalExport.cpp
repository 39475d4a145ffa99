#include "JournalExport.h"

#include "JournalChain.h"
#include "JournalReader.h"
#include "RunRecord.h"

#include <QDir>
#include <QIODevice>
#include <QStringDecoder>

namespace {
// The received bytes as text; bytes that are not UTF-8 as the journal
// writes them (\xHH), so that the CSV stays text.
QByteArray readable(const QByteArray& raw) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = utf8(raw); // decodes
    return utf8.hasError() ? Journal::escape(raw) : raw;
}

bool isReason(const QString& event) {
    static const QStringList reasons{"held", "cut", "not typed", "skipped", "unverified"};
    return reasons.contains(event);
}
} // namespace

const QByteArray JournalExport::Header =
    "time,port,reading id,received text,outcome,where it landed\r\n";

JournalExport::JournalExport(const QStringList& files) {
    for (const QString& f : files)
        take(f);
}

void JournalExport::take(const QString& path) {
    const JournalReader file(path);
    for (const JournalReader::Line& l : file.lines()) {
        const Journal::Record& r = l.record;
        const QByteArray port = r.port.toUtf8();
        const QByteArray id = r.id.toUtf8();
        const QByteArray detail = readable(r.text);
        if (r.event == QLatin1String(RunRecord::Event)) {
            m_runOfPort[port] = ++m_runs;
        } else if (r.event == QLatin1String("received")) {
            m_rows.append(Row{l.bytes.left(l.bytes.indexOf('\t')), port, id, readable(r.text),
                              m_runOfPort.value(port)});
        } else if (id != "-" && r.event != QLatin1String(JournalChain::DayEvent)) {
            Fate& fate = m_fates[id];
            fate.outcome = r.event.toUtf8();
            if (isReason(r.event) && !detail.isEmpty())
                fate.outcome += " (" + detail + ')';
            // Where it was read back beats the window it was typed into.
            if (r.event == QLatin1String("typed") || r.event == QLatin1String("verified") ||
                r.event == QLatin1String("changed"))
                fate.landed = detail;
        }
    }
    if (!file.problem().isEmpty())
        m_problems << (file.problemLine() > 0
                           ? QStringLiteral("%1: line %2 %3; the lines after it are not exported.")
                                 .arg(QDir::toNativeSeparators(path))
                                 .arg(file.problemLine())
                                 .arg(file.problem())
                           : QStringLiteral("%1 %2.").arg(QDir::toNativeSeparators(path),
                                                          file.problem()));
}

QByteArray JournalExport::csvField(const QByteArray& text) {
    if (!text.contains(',') && !text.contains('"') && !text.contains('\r') && !text.contains('\n'))
        return text;
    return '"' + QByteArray(text).replace("\"", "\"\"") + '"';
}

bool JournalExport::write(QIODevice& out, int run) const {
    if (run < 0 || run > m_runs)
        return false;
    out.write(Header);
    for (const Row& r : m_rows) {
        if (run != 0 && r.run != run)
            continue;
        const Fate fate = m_fates.value(r.id);
        QByteArrayList fields{r.time, r.port, r.id, r.text, fate.outcome, fate.landed};
        for (QByteArray& f : fields)
            f = csvField(f);
        out.write(fields.join(',') + "\r\n");
    }
    return true;
}
