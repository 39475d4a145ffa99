// The serial settings string: what is accepted, how it is reported, and
// what a device cannot do.
#include "serial/SerialSettings.h"

#include <QtTest>

class TestSerialSettings : public QObject {
    Q_OBJECT
private slots:
    void accepted_data();
    void accepted();
    void refused_data();
    void refused();
    void deviceLimits();
};

void TestSerialSettings::accepted_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reported");
    QTest::newRow("default") << "9600,n,8,1"
                             << "9600,n,8,1";
    QTest::newRow("upper-case parity") << "9600,N,8,1"
                                       << "9600,n,8,1";
    QTest::newRow("even 5 1.5") << "1200,E,5,1.5"
                                << "1200,e,5,1.5";
    QTest::newRow("odd 7 2") << "2400,O,7,2"
                             << "2400,o,7,2";
    QTest::newRow("mark") << "115200,m,8,1"
                          << "115200,m,8,1";
    QTest::newRow("space") << "256000,S,6,1"
                           << "256000,s,6,1";
    QTest::newRow("4 data bits parse") << "110,n,4,1"
                                       << "110,n,4,1";
    QTest::newRow("unlisted speed") << "31250,n,8,1"
                                    << "31250,n,8,1";
}

void TestSerialSettings::accepted() {
    QFETCH(QString, text);
    QFETCH(QString, reported);
    const auto s = SerialSettings::parse(text);
    QVERIFY(s);
    QCOMPARE(s->toString(), reported);
}

void TestSerialSettings::refused_data() {
    QTest::addColumn<QString>("text");
    for (const char* t : {"", "9600", "9600,n,8", "9600,n,8,1,1", " 9600,n,8,1", "9600, n,8,1",
                          "9600,x,8,1", "9600,,8,1", "9600,nn,8,1", "9600,n,9,1", "9600,n,3,1",
                          "9600,n,8,3", "9600,n,8,1.0", "0,n,8,1", "-9600,n,8,1", "9600.5,n,8,1",
                          "99999999999,n,8,1", "abc,n,8,1", "9600,n,8,1 "})
        QTest::newRow(t) << QString::fromLatin1(t);
}

void TestSerialSettings::refused() {
    QFETCH(QString, text);
    AppError e;
    QVERIFY(!SerialSettings::parse(text, &e));
    QCOMPARE(e.number, Err::InvalidPropertyValue);
    QVERIFY(!e.message.isEmpty());
}

void TestSerialSettings::deviceLimits() {
    QVERIFY(SerialSettings::parse("9600,n,4,1")->deviceSupports());
    QVERIFY(SerialSettings::parse("9600,n,8,1.5")->deviceSupports());
    QVERIFY(SerialSettings::parse("9600,n,5,2")->deviceSupports());
    QVERIFY(!SerialSettings::parse("9600,n,5,1.5")->deviceSupports());
    QVERIFY(!SerialSettings::parse("9600,e,7,2")->deviceSupports());
}

QTEST_GUILESS_MAIN(TestSerialSettings)
#include "tst_serialsettings.moc"
