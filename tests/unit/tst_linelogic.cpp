// Line logic: framing of received bytes, composition with date and time,
// decoding, and the connection-time display.
#include "capture/ConnectTime.h"
#include "capture/LineAssembler.h"
#include "capture/LineText.h"

#include <QtTest>

namespace {
// Feeds bytes and returns the completed lines' data, in order.
QList<QByteArray> lines(LineAssembler& a, const QByteArray& bytes) {
    QList<QByteArray> out;
    for (char c : bytes)
        if (a.feed(c) == LineAssembler::Outcome::LineCompleted)
            out << a.takeLine();
    return out;
}
} // namespace

class TestLineLogic : public QObject {
    Q_OBJECT
private slots:
    void framing_data();
    void framing();
    void lateLfIsStillPartOfTheLineEnd();
    void resetForgetsPartialLineAndCrState();
    void compose_data();
    void compose();
    void composeOtherModesInsertNothing();
    void composeRejectsDateModeThatIsNotANumber();
    void decode();
    void connectTimeFormat();
    void insertedTexts();
};

void TestLineLogic::framing_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::addColumn<QByteArray>("pending");
    QTest::newRow("crlf") << QByteArray("12.5\r\n") << QList<QByteArray>{"12.5"} << QByteArray();
    QTest::newRow("cr alone keeps the next first byte")
        << QByteArray("12.5\r13.5\r") << QList<QByteArray>{"12.5", "13.5"} << QByteArray();
    QTest::newRow("two lines crlf")
        << QByteArray("+1\r\n-2\r\n") << QList<QByteArray>{"+1", "-2"} << QByteArray();
    QTest::newRow("cr cr gives an empty line")
        << QByteArray("a\r\r") << QList<QByteArray>{"a", ""} << QByteArray();
    QTest::newRow("empty line") << QByteArray("\r\n") << QList<QByteArray>{""} << QByteArray();
    QTest::newRow("lf alone never ends a line")
        << QByteArray("1\n2\n") << QList<QByteArray>{} << QByteArray("1\n2\n");
    QTest::newRow("lf cr: lf is data")
        << QByteArray("1\n\r") << QList<QByteArray>{"1\n"} << QByteArray();
    QTest::newRow("tab is data") << QByteArray("a\tb\r") << QList<QByteArray>{"a\tb"}
                                 << QByteArray();
    QTest::newRow("second lf is data")
        << QByteArray("a\r\n\nb\r") << QList<QByteArray>{"a", "\nb"} << QByteArray();
    QTest::newRow("partial line") << QByteArray("a\r\nxy") << QList<QByteArray>{"a"}
                                  << QByteArray("xy");
    QTest::newRow("nul and ff are data")
        << QByteArray("\0\xff\r", 3) << QList<QByteArray>{QByteArray("\0\xff", 2)} << QByteArray();
}

void TestLineLogic::framing() {
    QFETCH(QByteArray, input);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(QByteArray, pending);
    LineAssembler a;
    QCOMPARE(lines(a, input), expected);
    QCOMPARE(a.pending(), pending);
}

void TestLineLogic::lateLfIsStillPartOfTheLineEnd() {
    LineAssembler a;
    QCOMPARE(lines(a, "7.1\r"), QList<QByteArray>{"7.1"});
    // The LF arrives after the line has been typed: it is dropped, it does
    // not start the next line.
    QCOMPARE(a.feed('\n'), LineAssembler::Outcome::Dropped);
    QCOMPARE(lines(a, "7.2\r"), QList<QByteArray>{"7.2"});
}

void TestLineLogic::resetForgetsPartialLineAndCrState() {
    LineAssembler a;
    lines(a, "x\rpart");
    a.reset();
    QVERIFY(a.pending().isEmpty());
    LineAssembler b;
    lines(b, "x\r");
    b.reset();
    // After a reset an LF is ordinary data again.
    QCOMPARE(b.feed('\n'), LineAssembler::Outcome::Collected);
}

void TestLineLogic::compose_data() {
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("time");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 0") << "0" << 0 << "X\r\n";
    QTest::newRow("1 0") << "1" << 0 << "D\tX\r\n";
    QTest::newRow("2 0") << "2" << 0 << "X\tD\r\n";
    QTest::newRow("0 1") << "0" << 1 << "T\tX\r\n";
    QTest::newRow("0 2") << "0" << 2 << "X\tT\r\n";
    QTest::newRow("1 1") << "1" << 1 << "D\tT\tX\r\n";
    QTest::newRow("1 2") << "1" << 2 << "D\tX\tT\r\n";
    QTest::newRow("2 1") << "2" << 1 << "T\tX\tD\r\n";
    QTest::newRow("2 2") << "2" << 2 << "X\tD\tT\r\n";
    QTest::newRow("date text with blanks") << " 1 " << 0 << "D\tX\r\n";
}

void TestLineLogic::compose() {
    QFETCH(QString, date);
    QFETCH(int, time);
    QFETCH(QString, expected);
    AppError e;
    const auto line = LineText::compose("X", date, std::int16_t(time), "D", "T", &e);
    QVERIFY(line);
    QCOMPARE(*line, expected);
}

void TestLineLogic::composeOtherModesInsertNothing() {
    AppError e;
    QCOMPARE(*LineText::compose("", "7", 3, "D", "T", &e), QString("\r\n"));
    QCOMPARE(*LineText::compose("v", "-1", -1, "D", "T", &e), QString("v\r\n"));
}

void TestLineLogic::composeRejectsDateModeThatIsNotANumber() {
    for (const QString& bad : {QString(), QString("abc"), QString("1x")}) {
        AppError e;
        QVERIFY(!LineText::compose("v", bad, 0, "D", "T", &e));
        QCOMPARE(e.number, Err::TypeMismatch);
    }
}

void TestLineLogic::decode() {
    QCOMPARE(LineText::decode("+0012.345 g"), QString("+0012.345 g"));
    QCOMPARE(LineText::decode("23.5 \xc2\xb0\x43"), QString::fromUtf8("23.5 °C"));
    QCOMPARE(LineText::decode("\xe6\x97\xa5\xe6\x9c\xac"), QString::fromUtf8("日本"));
    QCOMPARE(LineText::decode("\xf0\x9f\x98\x80"), QString::fromUtf8("😀"));
    // U+FEFF inside data is a character like any other, not a byte-order mark.
    QCOMPARE(LineText::decode("\xef\xbb\xbf"
                              "25"),
             QString(QChar(0xFEFF)) + "25");
    // A single-byte degree sign or micro sign (Latin-1) stays what it was.
    QCOMPARE(LineText::decode("23.5 \xb0"
                              "C"),
             QString::fromUtf8("23.5 °C"));
    QCOMPARE(LineText::decode("5 \xb5m"), QString::fromUtf8("5 µm"));
    // Truncated, overlong and surrogate sequences fall back byte by byte.
    QCOMPARE(LineText::decode("\xe6\x97"), QString::fromUtf8("\u00e6\u0097"));
    QCOMPARE(LineText::decode("\xc0\xaf"), QString::fromUtf8("\u00c0\u00af"));
    QCOMPARE(LineText::decode("\xed\xa0\x80").size(), 3);
    QCOMPARE(LineText::decode(QByteArray("a\0b", 3)), QString(QStringView(u"a\0b", 3).toString()));
}

void TestLineLogic::connectTimeFormat() {
    QCOMPARE(ConnectTime::format(0), QString("00:00:00 "));
    QCOMPARE(ConnectTime::format(5 * 60 + 7), QString("00:05:07 "));
    QCOMPARE(ConnectTime::format(24 * 3600), QString("00:00:00 "));
    QCOMPARE(ConnectTime::format(24 * 3600 + 5), QString("00:00:05 "));
    QCOMPARE(ConnectTime::format(25 * 3600 + 3 * 60 + 4), QString("01:03:04 "));
    QCOMPARE(ConnectTime::format(23 * 3600 + 59 * 60 + 59), QString("23:59:59 "));
    QCOMPARE(ConnectTime::format(1000LL * 86400 + 3599).size(), 9);
    const QDateTime start(QDate(2026, 1, 1), QTime(23, 59, 58));
    QCOMPARE(ConnectTime::elapsedSeconds(start, start.addSecs(3)), 3);
    QCOMPARE(ConnectTime::elapsedSeconds(start, start.addSecs(-30)), 0);
}

void TestLineLogic::insertedTexts() {
    const QDateTime t(QDate(2026, 3, 4), QTime(5, 6, 7));
    QCOMPARE(ConnectTime::dateText(t), QString("2026-03-04"));
    QCOMPARE(ConnectTime::timeText(t), QString("05:06:07"));
}

QTEST_GUILESS_MAIN(TestLineLogic)
#include "tst_linelogic.moc"
