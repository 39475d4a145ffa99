// The line logic sees whatever the instrument sends: NUL, 0xFF, broken UTF-8,
// stray LFs, and possibly megabytes without a CR. Framing must lose nothing
// but the LF of a CR LF, and decoding must give sound text for any bytes.
#include "FuzzCheck.h"
#include "capture/LineAssembler.h"
#include "capture/LineText.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {
bool isAscii(const QByteArray& b) {
    for (char c : b)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool isValidUtf16(const QString& s) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i].isHighSurrogate()) {
            if (i + 1 >= s.size() || !s[i + 1].isLowSurrogate())
                return false;
            ++i;
        } else if (s[i].isLowSurrogate()) {
            return false;
        }
    }
    return true;
}

// Qt's strict UTF-8 decoding, keeping a leading BOM as U+FEFF like any other
// character (QString::fromUtf8 drops it).
QString strictUtf8(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(bytes);
}

// The decoding rule spelled out with Qt's own UTF-8 decoder as the judge of
// what one valid sequence is (UTF-8 is prefix-free, so at most one length fits).
QString referenceDecode(const QByteArray& bytes) {
    QString out;
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype taken = 0;
        for (qsizetype n = 1; n <= 4 && i + n <= bytes.size() && !taken; ++n) {
            const QByteArray seq = bytes.mid(i, n);
            const QString s = strictUtf8(seq);
            if (s.toUtf8() == seq && s.toUcs4().size() == 1) {
                out += s;
                taken = n;
            }
        }
        if (!taken) {
            out += QChar(static_cast<unsigned char>(bytes[i]));
            taken = 1;
        }
        i += taken;
    }
    return out;
}

void checkDecode(const QByteArray& bytes) {
    const QString text = LineText::decode(bytes);
    const qsizetype n = bytes.size();
    // One QChar per byte at most (ASCII, Latin-1 fallback), at least one per
    // three bytes (a 3-byte sequence; 4 bytes give a surrogate pair).
    FUZZ_CHECK(text.size() <= n);
    FUZZ_CHECK(text.size() * 3 >= n);
    FUZZ_CHECK(isValidUtf16(text));
    FUZZ_CHECK(text == referenceDecode(bytes));
    // The replacement character appears only where the bytes encode it; an
    // invalid byte becomes its Latin-1 character instead.
    FUZZ_CHECK(text.count(QChar(0xFFFD)) == bytes.count("\xEF\xBF\xBD"));
    if (isAscii(bytes))
        FUZZ_CHECK(text == QString::fromLatin1(bytes));
    const QString strict = strictUtf8(bytes);
    if (strict.toUtf8() == bytes) {
        FUZZ_CHECK(text == strict);
        FUZZ_CHECK(text.toUtf8() == bytes);
    }
    // An ASCII byte never belongs to a multi-byte sequence, so decoding the
    // pieces between ASCII bytes gives the same text as decoding the whole.
    QString pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= n; ++i) {
        if (i == n || static_cast<unsigned char>(bytes[i]) < 0x80) {
            pieces += LineText::decode(bytes.mid(start, i - start));
            if (i < n)
                pieces += QChar(static_cast<unsigned char>(bytes[i]));
            start = i + 1;
        }
    }
    FUZZ_CHECK(pieces == text);
}

void checkCompose(const QString& data, const std::uint8_t* in, std::size_t size) {
    static const char* const dateModes[] = {"0",  "1", "2", "3",  " 1 ", "2.0", "1e0",
                                            "-1", "",  "x", "1x", "nan", "inf"};
    const std::uint8_t a = size > 0 ? in[0] : 0;
    const std::uint8_t b = size > 1 ? in[1] : 0;
    const std::uint8_t c = size > 2 ? in[2] : 0;
    // Mostly the known modes; sometimes arbitrary stored text.
    const QString insertDate =
        a < 0xF0 ? QString::fromLatin1(dateModes[a % 13])
                 : QString::fromLatin1(reinterpret_cast<const char*>(in), qMin<qsizetype>(size, 8));
    const auto insertTime = static_cast<std::int16_t>(c < 0xC0 ? c % 4 : (b | c << 8));
    const QString date = QStringLiteral("2024-02-29");
    const QString time = QStringLiteral("23:59:58");

    AppError error;
    const auto line = LineText::compose(data, insertDate, insertTime, date, time, &error);
    bool ok = false;
    const double mode = insertDate.trimmed().toDouble(&ok);
    if (!ok || !qIsFinite(mode)) {
        FUZZ_CHECK(!line);
        FUZZ_CHECK(error.number == Err::TypeMismatch);
        return;
    }
    FUZZ_CHECK(line);
    FUZZ_CHECK(line->endsWith(QStringLiteral("\r\n")));
    FUZZ_CHECK(line->contains(data));
    QString expected;
    if (mode == 1)
        expected += date + '\t';
    if (insertTime == 1)
        expected += time + '\t';
    expected += data;
    if (mode == 2)
        expected += '\t' + date;
    if (insertTime == 2)
        expected += '\t' + time;
    expected += QStringLiteral("\r\n");
    FUZZ_CHECK(*line == expected);
}

// Feeds bytes one at a time; returns the completed lines (and, in tooLong,
// the lines cut off at MaxLine) and checks each outcome against the framing
// rule. afterCr: the byte fed before was a CR.
std::vector<QByteArray> frame(LineAssembler& a, const QByteArray& in, bool afterCr = false,
                              std::vector<QByteArray>* tooLong = nullptr) {
    std::vector<QByteArray> lines;
    for (char byte : in) {
        const bool discarding = a.discarding();
        const qsizetype before = a.pending().size();
        const auto outcome = a.feed(byte);
        if (byte == '\r' && discarding) {
            FUZZ_CHECK(outcome == LineAssembler::Outcome::Dropped && !a.discarding());
        } else if (byte == '\r') {
            FUZZ_CHECK(outcome == LineAssembler::Outcome::LineCompleted);
            const QByteArray line = a.takeLine();
            FUZZ_CHECK(!line.contains('\r') && line.size() < LineAssembler::MaxLine);
            FUZZ_CHECK(a.takeLine().isEmpty());
            FUZZ_CHECK(a.pending().isEmpty());
            lines.push_back(line);
        } else if ((byte == '\n' && afterCr) || discarding) {
            FUZZ_CHECK(outcome == LineAssembler::Outcome::Dropped);
        } else if (before + 1 == LineAssembler::MaxLine) {
            FUZZ_CHECK(outcome == LineAssembler::Outcome::LineTooLong && a.discarding());
            const QByteArray cut = a.takeLine();
            FUZZ_CHECK(cut.size() == LineAssembler::MaxLine && cut.endsWith(byte));
            FUZZ_CHECK(a.pending().isEmpty());
            if (tooLong)
                tooLong->push_back(cut);
        } else {
            FUZZ_CHECK(outcome == LineAssembler::Outcome::Collected);
            FUZZ_CHECK(a.pending().endsWith(byte));
        }
        afterCr = byte == '\r';
    }
    return lines;
}

// Megabytes without a CR: the first MaxLine bytes are cut off as too long,
// the rest is dropped in constant memory, and the next CR starts afresh.
void checkLongLine(const QByteArray& seed) {
    QElapsedTimer timer;
    timer.start();
    QByteArray unit = seed;
    unit.replace('\r', 'x');
    if (unit.isEmpty())
        return;
    QByteArray big;
    const qsizetype target = 4 * 1024 * 1024;
    big.reserve(target + unit.size());
    while (big.size() < target)
        big += unit;
    LineAssembler a;
    std::vector<QByteArray> cut;
    FUZZ_CHECK(frame(a, big, false, &cut).empty());
    FUZZ_CHECK(cut.size() == 1 && cut.front() == big.left(LineAssembler::MaxLine));
    FUZZ_CHECK(a.pending().isEmpty() && a.discarding());
    const QString text = LineText::decode(big);
    FUZZ_CHECK(text.size() <= big.size() && text.size() * 3 >= big.size());
    FUZZ_CHECK(isValidUtf16(text));
    FUZZ_CHECK(a.feed('\r') == LineAssembler::Outcome::Dropped);
    FUZZ_CHECK(frame(a, "ok\r", true) == std::vector<QByteArray>{"ok"});
    static bool told = false;
    if (!told) {
        told = true;
        std::fprintf(stderr, "long line without CR: %lld bytes framed and decoded in %lld ms\n",
                     static_cast<long long>(big.size()), static_cast<long long>(timer.elapsed()));
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray in(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    LineAssembler a;
    std::vector<QByteArray> tooLong;
    const std::vector<QByteArray> lines = frame(a, in, false, &tooLong);

    // Without a line cut off: lines with their CRs, then the pending tail,
    // give back the input less exactly the LFs that directly follow a CR.
    if (tooLong.empty()) {
        QByteArray expected;
        for (qsizetype i = 0; i < in.size(); ++i)
            if (!(in[i] == '\n' && i > 0 && in[i - 1] == '\r'))
                expected += in[i];
        QByteArray rebuilt;
        for (const QByteArray& line : lines)
            rebuilt += line + '\r';
        rebuilt += a.pending();
        FUZZ_CHECK(rebuilt == expected);
        FUZZ_CHECK(qsizetype(lines.size()) == in.count('\r'));
    }

    // Feeding in two parts gives the same lines: the CR state carries over.
    if (size > 1) {
        LineAssembler b;
        const qsizetype cut = data[0] % in.size();
        std::vector<QByteArray> cutOff;
        std::vector<QByteArray> split = frame(b, in.left(cut), false, &cutOff);
        std::vector<QByteArray> rest =
            frame(b, in.mid(cut), cut > 0 && in[cut - 1] == '\r', &cutOff);
        split.insert(split.end(), rest.begin(), rest.end());
        FUZZ_CHECK(split == lines && cutOff == tooLong);
        FUZZ_CHECK(b.pending() == a.pending());
    }

    // A reset forgets the CR: an LF right after it is data.
    a.reset();
    FUZZ_CHECK(a.pending().isEmpty() && a.takeLine().isEmpty());
    FUZZ_CHECK(a.feed('\n') == LineAssembler::Outcome::Collected);

    for (const QByteArray& line : lines) {
        checkDecode(line);
        checkCompose(LineText::decode(line), data, size);
    }
    checkDecode(in);

    // The long-line check is slow, so it runs on the first real input and then
    // now and again.
    static unsigned runs = 0;
    if (size > 0 && runs++ % 200000 == 0)
        checkLongLine(in);
    return 0;
}
