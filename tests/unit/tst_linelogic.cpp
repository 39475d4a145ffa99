// Line logic: framing of received bytes, composition with date and time,
// decoding, telling noise from text, the connection-time display, and the
// keys that put a reading into a spreadsheet as data.
#include "capture/ConnectTime.h"
#include "capture/GarbleCheck.h"
#include "capture/LineAssembler.h"
#include "capture/LineText.h"
#include "capture/SpreadsheetEntry.h"
#include "platform/KeyActions.h"

#include <QRandomGenerator>
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
    void garbled_data();
    void garbled();
    void connectTimeFormat();
    void spreadsheetKeys_data();
    void spreadsheetKeys();
    void spreadsheetRecognised();
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

void TestLineLogic::garbled_data() {
    QTest::addColumn<int>("encoding");
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<int>("damaged");
    QTest::addColumn<bool>("garbled");
    const auto row = [](const char* name, Encoding e, const QByteArray& raw, bool garbled,
                        int damaged = 0) {
        QTest::newRow(name) << int(e) << raw << damaged << garbled;
    };
    // Readings, a few characters beyond ASCII included, in every encoding.
    row("utf8 reading", Encoding::Utf8, "+0012.345 g", false);
    row("utf8 symbols", Encoding::Utf8, "\xc2\xb1 0.02 \xc2\xb5m 23.5 \xc2\xb0\x43", false);
    row("utf8 only Japanese", Encoding::Utf8,
        "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xe3\x83\x86\xe3\x82\xad\xe3\x82\xb9\xe3\x83\x88",
        false);
    row("utf8 single-byte degree", Encoding::Utf8, "23.5 \xb0\x43 \xb1\x31", false);
    row("utf8 STX ETX framing", Encoding::Utf8, "\x02+0012.5 g\x03", false);
    row("utf8 framed OK", Encoding::Utf8, "\x02OK\x03", false);
    row("utf8 empty", Encoding::Utf8, "", false);
    row("latin1 German", Encoding::Latin1,
        "Gr\xf6\xdf"
        "e: 12,5 \xb5m \xb1 0,1",
        false);
    row("latin1 letters and signs", Encoding::Latin1,
        "\xc4\xd6\xdc-Wert 12,5 \xb5m \xb1 0,1 \xb0\x43", false);
    row("cp437 degree and micro", Encoding::Cp437, "23.5 \xf8\x43 5 \xe6m", false);
    row("sjis Japanese", Encoding::ShiftJis, "\x8f\x64\x97\xca 12.5 g \x93\xfa\x96\x7b", false);
    row("sjis half-width kana", Encoding::ShiftJis, "\xb5\xdd\xc4\xde 23.5", false);
    // A damaged character arrives as "?": many of them are noise.
    row("two damaged in a reading", Encoding::Utf8, "+0012.?45 g?", false, 2);
    row("mostly damaged", Encoding::Utf8, "?2?.?4? ?", true, 6);
    row("control characters inside", Encoding::Utf8,
        "1\x05\x12\x7f"
        "2",
        true);
    // Random bytes, as a wrong speed gives them.
    QRandomGenerator random(21);
    for (const auto& [e, name] : {std::pair{Encoding::Utf8, "utf8"},
                                  {Encoding::Latin1, "latin1"},
                                  {Encoding::Cp437, "cp437"},
                                  {Encoding::ShiftJis, "sjis"}}) {
        for (int length : {64, 100, 200}) {
            for (int i = 0; i < 10; ++i) {
                QByteArray raw(length, Qt::Uninitialized);
                for (char& b : raw)
                    b = char(random.bounded(256));
                raw.replace('\r', 'x').replace('\n', 'y');
                QTest::addRow("%s noise %d #%d", name, length, i) << int(e) << raw << 0 << true;
            }
        }
    }
}

void TestLineLogic::garbled() {
    QFETCH(int, encoding);
    QFETCH(QByteArray, raw);
    QFETCH(int, damaged);
    QFETCH(bool, garbled);
    const auto e = Encoding(encoding);
    if (!LineText::canDecode(e))
        QSKIP("this build cannot read the encoding");
    const auto why = GarbleCheck::garbled(raw, LineText::decode(raw, e), e, damaged);
    QVERIFY2(why.has_value() == garbled, qPrintable(why.value_or("typed")));
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

void TestLineLogic::spreadsheetKeys_data() {
    QTest::addColumn<int>("sheet");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("dataAt");
    QTest::addColumn<int>("dataLength");
    QTest::addColumn<QString>("keys"); // "#" stands for Delete
    const int calc = int(Spreadsheet::LibreOfficeCalc), gnumeric = int(Spreadsheet::Gnumeric);
    QTest::newRow("calc: a number with a unit stays") << calc << "-3.5 C\r\n"
                                                      << 0 << 6 << "-3.5 C#\r\n";
    QTest::newRow("calc: a formula is text") << calc << "=1+1\r\n" << 0 << 4 << "'=1+1#\r\n";
    QTest::newRow("calc: a sign and a reference") << calc << "-12 A1\r\n"
                                                  << 0 << 6 << "'-12 A1#\r\n";
    QTest::newRow("calc: a plain number") << calc << "+0012.345\r\n" << 0 << 9 << "+0012.345#\r\n";
    QTest::newRow("calc: plain text") << calc << "ok 23.5\r\n" << 0 << 7 << "ok 23.5#\r\n";
    QTest::newRow("gnumeric: text") << gnumeric << "ok 23.5\r\n" << 0 << 7 << "'ok 23.5#\r\n";
    QTest::newRow("gnumeric: a number") << gnumeric << "12.50\r\n" << 0 << 5 << "12.50#\r\n";
    QTest::newRow("gnumeric: date and time stay dates")
        << gnumeric << "2026-12-08\t-3.5 C\t12:00:00\r\n"
        << 11 << 6 << "2026-12-08#\t'-3.5 C#\t12:00:00#\r\n";
    QTest::newRow("excel: two cells of data")
        << int(Spreadsheet::Excel) << "a\t5\x1e" << 0 << 3 << "'a#\t5#\x1e";
    QTest::newRow("no Delete into a cell that got no key") << gnumeric << "\r\n\tx\r\n"
                                                           << 3 << 1 << "\r\n\t'x#\r\n";
    QTest::newRow("no Delete without a key after") << gnumeric << "x" << 0 << 1 << "'x";
    QTest::newRow("not a spreadsheet") << int(Spreadsheet::None) << "=1+1\r\n"
                                       << 0 << 4 << "=1+1\r\n";
}

void TestLineLogic::spreadsheetKeys() {
    QFETCH(int, sheet);
    QFETCH(QString, line);
    QFETCH(int, dataAt);
    QFETCH(int, dataLength);
    QFETCH(QString, keys);
    const SpreadsheetEntry::Keys k =
        SpreadsheetEntry::keysFor(Spreadsheet(sheet), line, dataAt, dataLength);
    QCOMPARE(k.keys, QString(keys).replace('#', QChar(KeyActions::DeleteMark)));
    // What Calc shows differs from the data only by its apostrophe.
    QCOMPARE(k.shown.isEmpty(), !(sheet == int(Spreadsheet::LibreOfficeCalc) && keys[0] == '\''));
}

void TestLineLogic::spreadsheetRecognised() {
    // The window decides when it says; the program only when it does not.
    QCOMPARE(SpreadsheetEntry::recognise("/usr/bin/soffice", "libreoffice-calc libreoffice-calc",
                                         "sheet.ods - LibreOffice Calc"),
             Spreadsheet::LibreOfficeCalc);
    QCOMPARE(SpreadsheetEntry::recognise("/usr/bin/localc", "libreoffice-writer libreoffice-writer",
                                         "a.odt - LibreOffice Writer"),
             Spreadsheet::None);
    QCOMPARE(SpreadsheetEntry::recognise("calc.sh", "gnumeric Gnumeric", "x"),
             Spreadsheet::Gnumeric);
    QCOMPARE(SpreadsheetEntry::recognise("C:\\Office\\EXCEL.EXE", "", ""), Spreadsheet::Excel);
    QCOMPARE(SpreadsheetEntry::recognise("C:\\x\\app.exe", "XLMAIN", "Book1 - Excel"),
             Spreadsheet::Excel);
    QCOMPARE(SpreadsheetEntry::recognise("/usr/bin/xterm", "xterm XTerm", "xterm"),
             Spreadsheet::None);
}

QTEST_GUILESS_MAIN(TestLineLogic)
#include "tst_linelogic.moc"
