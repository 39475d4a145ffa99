// What the Data settings do to each line: line ends, encodings, the request
// escapes, the Keep filter, the values Pick takes, the numbers that are
// typed and the key after each reading.
#include "capture/DataOptions.h"
#include "capture/LineAssembler.h"
#include "capture/LineText.h"
#include "capture/NumberPick.h"

#include <QtTest>

namespace {
QStringList frame(LineEnd end, const QList<QByteArray>& reads, QByteArray* pending) {
    LineAssembler a;
    a.setLineEnd(end);
    QStringList out;
    for (const QByteArray& read : reads)
        for (char c : read)
            if (a.feed(c) == LineAssembler::Outcome::LineCompleted)
                out << QString::fromLatin1(a.takeLine());
    *pending = a.pending();
    return out;
}

DataOptions options(DataSettings s) {
    AppError error;
    const auto o = DataOptions::from(s, &error);
    if (!o)
        qWarning() << error.message;
    return o.value_or(DataOptions{});
}
} // namespace

class TestDataOptions : public QObject {
    Q_OBJECT
private slots:
    void lineEnds_data() {
        QTest::addColumn<int>("end");
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QByteArray>("pending");
        const int CR = int(LineEnd::CR), LF = int(LineEnd::LF), Any = int(LineEnd::Any);
        using L = QList<QByteArray>;
        QTest::newRow("LF: CR LF, lone LF")
            << LF << L{"a\r\nb\nc"} << QStringList{"a", "b"} << QByteArray("c");
        QTest::newRow("LF: lone CR is data")
            << LF << L{"a\rb\n"} << QStringList{"a\rb"} << QByteArray();
        QTest::newRow("LF: LF CR leaves the CR to the next line")
            << LF << L{"a\n\rb\n"} << QStringList{"a", "\rb"} << QByteArray();
        QTest::newRow("LF: CR LF split across reads")
            << LF << L{"1.5 g\r", "\n2.5 g\r", "x\n"} << QStringList{"1.5 g", "2.5 g\rx"}
            << QByteArray();
        QTest::newRow("Any: each end once") << Any << L{"a\r\nb\nc\rd\n\re\r"}
                                            << QStringList{"a", "b", "c", "d", "e"} << QByteArray();
        QTest::newRow("Any: pair split across reads, empty line kept")
            << Any << L{"a\r", "\n", "\r\n", "b\n", "\r"} << QStringList{"a", "", "b"}
            << QByteArray();
        QTest::newRow("CR: as always")
            << CR << L{"a\r", "\nb\n\rc"} << QStringList{"a", "b\n"} << QByteArray("c");
    }
    void lineEnds() {
        QFETCH(int, end);
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QStringList, expected);
        QFETCH(QByteArray, pending);
        QByteArray left;
        QCOMPARE(frame(LineEnd(end), reads, &left), expected);
        QCOMPARE(left, pending);
    }

    void encodings() {
        const auto u = [](const char* s) { return QString::fromUtf8(s); };
        QCOMPARE(LineText::decode("25 \xb0"
                                  "C \xb5m",
                                  Encoding::Latin1),
                 u("25 °C µm"));
        QCOMPARE(LineText::decode("25 \xf8"
                                  "C \xe6m",
                                  Encoding::Cp437),
                 u("25 °C µm"));
        QCOMPARE(LineText::decode("25\x81\x8E \x81\x8B \x83\xCA", Encoding::ShiftJis),
                 u("25℃ ° μ"));
        QCOMPARE(LineText::decode("25 \xc2\xb0"
                                  "C \xe2\x84\x83",
                                  Encoding::Utf8),
                 u("25 °C ℃"));
        // A byte that is no Shift-JIS, even a lead byte at the very end, shows.
        QCOMPARE(LineText::decode("1\x81", Encoding::ShiftJis), u("1\uFFFD"));
        QCOMPARE(LineText::decode("\xa0\xff", Encoding::ShiftJis).count(QChar(0xFFFD)), 2);
    }

    void escapes() {
        QString why;
        QCOMPARE(*DataOptions::unescape("S\\r\\n", &why), QByteArray("S\r\n"));
        QCOMPARE(*DataOptions::unescape("\\eP\\t\\\\\\x1b\\x7F", &why),
                 QByteArray("\x1bP\t\\\x1b\x7f"));
        QCOMPARE(*DataOptions::unescape(QString::fromUtf8("µ"), &why), QByteArray("\xc2\xb5"));
        for (const char* broken : {"\\", "\\q", "\\x1", "\\xg0"}) {
            QVERIFY2(!DataOptions::unescape(broken, &why), broken);
            QVERIFY(why.contains("no escape"));
        }
    }

    void numbers_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("unit");
        QTest::newRow("sign and zeros") << "+0012.345 g"
                                        << "12.345"
                                        << "g";
        QTest::newRow("exponent") << "-1.5e-3 mV"
                                  << "-1.5e-3"
                                  << "mV";
        QTest::newRow("stable header") << "S S     100.00 g"
                                       << "100.00"
                                       << "g";
        QTest::newRow("ST header") << "ST,+00012.34  g"
                                   << "12.34"
                                   << "g";
        QTest::newRow("US negative") << "US,-00001.00 g"
                                     << "-1.00"
                                     << "g";
        QTest::newRow("sign apart") << "-    12.34 g"
                                    << "-12.34"
                                    << "g";
        QTest::newRow("thousands and decimal") << "1,234.5"
                                               << "1234.5"
                                               << "";
        QTest::newRow("decimal comma")
            << QString::fromUtf8("21,5 °C") << "21.5" << QString::fromUtf8("°C");
        QTest::newRow("a date is not one number") << "12.05.2024"
                                                  << "12.05"
                                                  << ".2024";
        QTest::newRow("no exponent without digits") << "12 eV"
                                                    << "12"
                                                    << "eV";
        QTest::newRow("no number here") << "no number here"
                                        << ""
                                        << "";
        QTest::newRow("a lone sign") << "+"
                                     << ""
                                     << "";
    }
    void numbers() {
        QFETCH(QString, line);
        QFETCH(QString, value);
        QFETCH(QString, unit);
        const auto n = NumberPick::first(line);
        QCOMPARE(n ? n->value : QString(), value);
        QCOMPARE(n ? n->unit : QString(), unit);
    }

    // The defaults change nothing; the options together give what the
    // spreadsheet reads as a number, and skip what must not be typed.
    void shaping() {
        QString why;
        const DataOptions plain = options({});
        QCOMPARE(*plain.shape("+0012.345 g", &why), QString("+0012.345 g"));

        DataSettings s;
        s.NumberOnly = "1";
        s.Decimal = ",";
        s.UnitColumn = "1";
        s.Keep = "^S S ";
        const DataOptions balance = options(s);
        QCOMPARE(*balance.shape("S S     100.00 g", &why), QString("100,00\tg"));
        QVERIFY(!balance.shape("S D      99.87 g", &why));
        QCOMPARE(why, QString("not kept by the filter"));
        s.Keep = "";
        s.UnitColumn = "0";
        s.Decimal = ".";
        QCOMPARE(*options(s).shape("+0012,5 g", &why), QString("12.5"));
        QVERIFY(!options(s).shape("OL", &why));
        QCOMPARE(why, QString("no number in the line"));
    }

    // The filter sees the text as decoded, so a degree sign sent as one
    // byte (no UTF-8) still matches, and broken bytes cannot break it.
    void keepOnBytesThatAreNoUtf8() {
        DataSettings s;
        s.Keep = QString::fromUtf8("°C$");
        const DataOptions o = options(s);
        QString why;
        QVERIFY(o.shape(LineText::decode("21.5 \xb0"
                                         "C"),
                        &why));
        QVERIFY(!o.shape(LineText::decode("\xff\xfe\xc3(21.5 F"), &why));
        QVERIFY(o.shape(LineText::decode("\xff\xc3 \xb0"
                                         "C"),
                        &why));
    }

    // Pick's groups are the values, each made a number on its own; a line
    // Pick does not fit is skipped with the reason the journal gets.
    void pick_data() {
        QTest::addColumn<QString>("keep");
        QTest::addColumn<QString>("pick");
        QTest::addColumn<QString>("numberUnitDecimal"); // "" for as received, else "1", unit, sep
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("typed"); // or "skipped: why"
        const QString channel = R"(^\s*[A-Za-z]*\d+\s*[,;:=\s]\s*(.+))";
        QTest::newRow("group: channel, then the reading") << "" << channel << "10."
                                                          << "CH2 -021.43 C"
                                                          << "-21.43";
        QTest::newRow("group: address with a sign right after the comma") << "" << channel << "10."
                                                                          << "01,+1.5E-3"
                                                                          << "1.5E-3";
        QTest::newRow("no group: the whole match, as received") << ""
                                                                << R"([-+]?\d+\.\d+)"
                                                                << ""
                                                                << "T=+21.43C"
                                                                << "+21.43";
        QTest::newRow("several values, each with unit and decimal comma") << ""
                                                                          << "^(.*);(.*)$"
                                                                          << "11,"
                                                                          << "+21.5 C;-3.25 kPa"
                                                                          << "21,5\tC\t-3,25\tkPa";
        QTest::newRow("several values as received") << ""
                                                    << R"((\w+)\s*,\s*(\w+))"
                                                    << ""
                                                    << "ab , cd"
                                                    << "ab\tcd";
        QTest::newRow("what Pick took has no number: skipped")
            << "" << channel << "10."
            << "CH1 OL"
            << "skipped: no number in what Pick took, \"OL\"";
        QTest::newRow("no match: skipped") << ""
                                           << R"(^\d+,(.*))"
                                           << "10."
                                           << "OVER"
                                           << "skipped: does not match Pick";
        QTest::newRow("a value without a number: skipped")
            << ""
            << "^(.*),(.*)$"
            << "10."
            << "21.5,OL"
            << "skipped: no number in value 2 of 2, \"OL\"";
        QTest::newRow("Keep decides first") << "^T"
                                            << "(.*)"
                                            << ""
                                            << "X 1"
                                            << "skipped: not kept by the filter";
        QTest::newRow("received arrow marks press nothing") << ""
                                                            << ""
                                                            << ""
                                                            << "1\x1e"
                                                               "2\x1f"
                                                               "3"
                                                            << "123";
    }
    void pick() {
        QFETCH(QString, keep);
        QFETCH(QString, pick);
        QFETCH(QString, numberUnitDecimal);
        QFETCH(QString, line);
        QFETCH(QString, typed);
        DataSettings s;
        s.Keep = keep;
        s.Pick = pick;
        if (!numberUnitDecimal.isEmpty()) {
            s.NumberOnly = "1";
            s.UnitColumn = numberUnitDecimal.mid(1, 1);
            s.Decimal = numberUnitDecimal.mid(2, 1);
        }
        QString why;
        const std::optional<QString> got = options(s).shape(line, &why);
        QCOMPARE(got.value_or("skipped: " + why), typed);
    }

    // The key after each reading: After alone, or PerRow's TABs and the
    // Return that ends a row.
    void keysAfterReadings() {
        const auto keys = [](const char* after, const char* perRow, int readings) {
            DataSettings s;
            s.After = after;
            s.PerRow = perRow;
            const DataOptions o = options(s);
            QStringList out;
            int column = 0;
            for (int i = 0; i < readings; ++i)
                out << o.keyAfter(&column);
            return out.join('|');
        };
        QCOMPARE(keys("Return", "1", 2), QString("\r\n|\r\n"));
        QCOMPARE(keys("Tab", "1", 2), QString("\t|\t"));
        QCOMPARE(keys("Down", "1", 1), QString("\x1e"));
        QCOMPARE(keys("Right", "1", 1), QString("\x1f"));
        QCOMPARE(keys("None", "1", 2), QString("|"));
        QCOMPARE(keys("Down", "3", 7), QString("\t|\t|\r\n|\t|\t|\r\n|\t"));
    }

    void invalidSettingsSayWhichAndWhat() {
        const auto error = [](void (*set)(DataSettings&)) {
            DataSettings s;
            set(s);
            AppError e;
            return DataOptions::from(s, &e) ? QString() : e.message;
        };
        QVERIFY(error([](DataSettings& s) { s.Keep = "(unclosed"; }).contains("Keep"));
        QVERIFY(error([](DataSettings& s) { s.RequestEvery = "0.05"; }).contains("RequestEvery"));
        QVERIFY(error([](DataSettings& s) { s.RequestEvery = "x"; }).contains("0.1 to 86400"));
        QVERIFY(error([](DataSettings& s) { s.LineEnd = "CRLF"; }).contains("LineEnd"));
        QVERIFY(error([](DataSettings& s) { s.Encoding = "EBCDIC"; }).contains("Open Data"));
        QVERIFY(error([](DataSettings& s) { s.Request = "\\z"; }).contains("Request"));
        QVERIFY(error([](DataSettings& s) { s.RequestEvery = "0,5"; }).isEmpty());
        QVERIFY(error([](DataSettings& s) { s.Pick = "(\\d+"; })
                    .contains("Pick \"(\\d+\" is no "
                              "regular expression"));
        QVERIFY(error([](DataSettings& s) { s.After = "Enter"; }).contains("After"));
        QVERIFY(error([](DataSettings& s) { s.PerRow = "0"; }).contains("PerRow"));
        QVERIFY(error([](DataSettings& s) { s.PerRow = "2.5"; }).contains("1 to 256"));
    }
};

QTEST_GUILESS_MAIN(TestDataOptions)
#include "tst_dataoptions.moc"
