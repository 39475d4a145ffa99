#include "main/JournalCommand.h"

#include "capture/JournalCheck.h"
#include "capture/JournalExport.h"
#include "main/StandardOutput.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace {
void say(FILE* to, const QString& text) {
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), to);
}

int check(const QStringList& files) {
    bool all = true;
    for (const QString& f : files) {
        const JournalCheck c = JournalCheck::of(f);
        say(stdout, c.summary());
        all = all && c.intact;
    }
    return all ? 0 : 1;
}

int exportCsv(QStringList files) {
    int run = 0;
    if (const qsizetype at = files.indexOf(QStringLiteral("--run")); at >= 0) {
        bool ok = false;
        run = files.value(at + 1).toInt(&ok);
        if (!ok || run < 1) {
            say(stderr, QStringLiteral("Parvelo: --run takes the number of a run, from 1: for "
                                       "example --run 2"));
            return 2;
        }
        files.remove(at, 2);
    }
    if (files.isEmpty()) {
        say(stderr, QStringLiteral("Parvelo: name the journal files to export, for example:\n"
                                   "  parvelo --export-journal 2026-12-07.tsv > readings.csv"));
        return 2;
    }
    const JournalExport journal(files);
    writeStandardOutputAsBytes();
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        say(stderr,
            QStringLiteral("Parvelo: the CSV cannot be written: %1").arg(out.errorString()));
        return 1;
    }
    if (!journal.write(out, run)) {
        say(stderr, QStringLiteral("Parvelo: there is no run %1; the files hold %2 runs.")
                        .arg(run)
                        .arg(journal.runCount()));
        return 2;
    }
    out.flush();
    for (const QString& p : journal.problems())
        say(stderr, p);
    return journal.problems().isEmpty() ? 0 : 1;
}
} // namespace

std::optional<int> runJournalCommand(int argc, char** argv) {
    if (argc < 2 || (std::strcmp(argv[1], "--check-journal") != 0 &&
                     std::strcmp(argv[1], "--export-journal") != 0))
        return std::nullopt;
    QCoreApplication app(argc, argv);
    QStringList files = QCoreApplication::arguments().mid(2);
    if (std::strcmp(argv[1], "--export-journal") == 0)
        return exportCsv(files);
    if (files.isEmpty()) {
        say(stderr,
            QStringLiteral("Parvelo: name the journal files to check, for example:\n"
                           "  parvelo --check-journal ~/.local/share/Parvelo/journal/*.tsv"));
        return 2;
    }
    return check(files);
}
