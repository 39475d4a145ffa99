// What the journal's hash chain costs: the SHA-256 of one record, a whole
// append with and without it (the lock, the look at the file's last hash and
// the write included), and how much bigger a day's file gets. The records
// are those of a balance typed into a spreadsheet and read back. Prints what
// it measured; the README quotes it.
#include "base/SystemFile.h"
#include "capture/Journal.h"
#include "capture/JournalChain.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int Readings = 20000; // three records each
const QString Port = QStringLiteral("Com1 /dev/ttyUSB0");

double perRecordUs(qint64 ns, int records) {
    return ns / 1000.0 / records;
}

// The journal's records with and without their hash field, in bytes.
void sizes(const QString& path, qint64* with, qint64* without, int* records) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray all = f.readAll();
    *with = all.size();
    *without = 0;
    *records = 0;
    for (const QByteArray& line : all.split('\n')) {
        if (line.isEmpty())
            continue;
        ++*records;
        *without += line.left(line.lastIndexOf('\t')).size() + 1;
    }
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the journal's sync timer
    // A folder on the disk the journal is on, as the program's own is.
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::homePath();
    QTemporaryDir dir(base + QStringLiteral("/journal-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a folder under %s\n", qPrintable(base));
        return 1;
    }
    const QDateTime at(QDate(2026, 12, 7), QTime(9, 0), Qt::OffsetFromUTC, 3600);

    // The hash alone, over a typical record.
    const QByteArray record = "2026-12-07T09:00:00.123+01:00\tCom1 /dev/ttyUSB0\t4242.17\t"
                              "received\tS S     12.345 g";
    QByteArray previous = JournalChain::Start;
    QElapsedTimer clock;
    clock.start();
    constexpr int Hashes = 200000;
    for (int i = 0; i < Hashes; ++i)
        previous = JournalChain::next(previous, record);
    const double hashUs = perRecordUs(clock.nsecsElapsed(), Hashes);

    // What the chain adds in system calls: the lock and the look at the
    // file's last hash, around each write.
    qint64 lookNs = 0;
    {
        SystemFile::Handle file = SystemFile::NoFile;
        SystemFile::openAppend(dir.filePath(QStringLiteral("look.tsv")), &file);
        qint64 written = 0;
        const QByteArray line = record + '\t' + previous + '\n';
        SystemFile::write(file, line.constData(), line.size(), &written);
        char end[JournalChain::HashLength + 2];
        clock.restart();
        for (int i = 0; i < Hashes; ++i) {
            SystemFile::lock(file);
            previous = JournalChain::lastHashIn(
                QByteArray(end, int(SystemFile::readEnd(file, end, sizeof end))));
            SystemFile::unlock(file);
        }
        lookNs = clock.nsecsElapsed();
        SystemFile::close(file);
    }

    // Whole appends through the journal, as a run makes them.
    qint64 chainedNs = 0;
    {
        Journal journal(dir.filePath(QStringLiteral("chained")));
        clock.restart();
        for (int i = 0; i < Readings; ++i) {
            const QDateTime t = at.addMSecs(i * 250);
            const QString id = journal.received(t, Port, "S S     12.345 g");
            journal.outcome(t, Port, id, Journal::Outcome::Typed,
                            QStringLiteral("Untitled 1 - LibreOffice Calc"));
            journal.outcome(t, Port, id, Journal::Outcome::Verified, QStringLiteral("A7"));
        }
        chainedNs = clock.nsecsElapsed();
    }
    qint64 with = 0, without = 0;
    int records = 0;
    sizes(dir.filePath(QStringLiteral("chained/2026-12-07.tsv")), &with, &without, &records);

    // The same lines without their hash, each one write(2) to a file opened
    // for appending: what an append cost before the chain.
    QFile f(dir.filePath(QStringLiteral("chained/2026-12-07.tsv")));
    f.open(QIODevice::ReadOnly);
    QList<QByteArray> lines = f.readAll().split('\n');
    f.close();
    const QByteArray plainPath = QFile::encodeName(dir.filePath(QStringLiteral("plain.tsv")));
    const int fd = ::open(plainPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    clock.restart();
    for (const QByteArray& line : lines) {
        const QByteArray plain = line.left(line.lastIndexOf('\t')) + '\n';
        if (::write(fd, plain.constData(), size_t(plain.size())) != plain.size())
            return 1;
    }
    const qint64 plainNs = clock.nsecsElapsed();
    ::fdatasync(fd);
    ::close(fd);

    std::printf("SHA-256 of one record (%lld bytes) with the hash before it: %.2f us\n",
                static_cast<long long>(record.size()), hashUs);
    std::printf("lock, read of the last hash, unlock: %.2f us\n", perRecordUs(lookNs, Hashes));
    std::printf("append through the journal, chained (lock, last hash, hash, write): %.2f us "
                "per record\n",
                perRecordUs(chainedNs, records));
    std::printf("append of the same records without their hash, one write(2) each: %.2f us "
                "per record\n",
                perRecordUs(plainNs, int(lines.size()) - 1));
    std::printf("journal of %d records: %lld bytes with the chain, %lld without; +%.1f bytes "
                "per record (+%.1f %%)\n",
                records, static_cast<long long>(with), static_cast<long long>(without),
                double(with - without) / records, 100.0 * double(with - without) / without);
    return 0;
}
