// The About dialog: its texts, the etched rule, and the ways it closes.
#include "forms/about/frmAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void textsAfterLoad();
    void okIsDefaultAndOnlyFocus();
    void closesBy_data();
    void closesBy();
    void drawsTheEtchedRule();
};

void TestAbout::textsAfterLoad() {
    for (int opening = 0; opening < 2; ++opening) {
        frmAbout dlg;
        QCOMPARE(dlg.windowTitle(), QString("About Parvelo"));
        QCOMPARE(dlg.size(), QSize(391, 242));
        QCOMPARE(dlg.lblTitle->text(), QString("Parvelo"));
        QCOMPARE(dlg.lblVersion->text(), QString("Version 1.0.0"));
        QVERIFY(QRegularExpression("^Version (0|[1-9]\\d*)\\.(0|[1-9]\\d*)\\.(0|[1-9]\\d*)$")
                    .match(dlg.lblVersion->text())
                    .hasMatch());
        QCOMPARE(dlg.Label1->text(), QString("01.Feb.2004"));
        QVERIFY(dlg.lblDisclaimer->text().size() > 20);
        QCOMPARE(dlg.cmdOK->text(), QString("OK"));
        QVERIFY(dlg.lblTitle->font().bold());
        QCOMPARE(dlg.lblTitle->font().pointSizeF(), 15.75);
    }
}

void TestAbout::okIsDefaultAndOnlyFocus() {
    frmAbout dlg;
    QVERIFY(dlg.cmdOK->isDefault());
    QVERIFY(dlg.isModal());
    for (QLabel* l : {dlg.lblTitle, dlg.lblVersion, dlg.Label1, dlg.lblDisclaimer})
        QCOMPARE(l->focusPolicy(), Qt::NoFocus);
}

void TestAbout::closesBy_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Return") << "return";
    QTest::newRow("Esc") << "esc";
    QTest::newRow("OK") << "ok";
    QTest::newRow("close box") << "close";
}

void TestAbout::closesBy() {
    QFETCH(QString, how);
    QWidget owner;
    owner.show();
    frmAbout dlg(&owner);
    QTimer::singleShot(50, &dlg, [&] {
        QWidget* focus = QApplication::focusWidget() ? QApplication::focusWidget() : &dlg;
        if (how == "enter")
            QTest::keyClick(focus, Qt::Key_Enter);
        else if (how == "return")
            QTest::keyClick(focus, Qt::Key_Return);
        else if (how == "esc")
            QTest::keyClick(focus, Qt::Key_Escape);
        else if (how == "ok")
            QTest::mouseClick(dlg.cmdOK, Qt::LeftButton);
        else
            dlg.close();
    });
    // Only reached when the action above did not end the dialog.
    QTimer::singleShot(3000, &dlg, [&] { dlg.done(99); });
    const int result = dlg.exec();
    QVERIFY2(result != 99, "the dialog stayed open");
    QVERIFY(!dlg.isVisible());
}

void TestAbout::drawsTheEtchedRule() {
    frmAbout dlg;
    const QImage image = dlg.grab().toImage();
    // Grey on row 162, white on rows 163 and 164, from x 15 to 377.
    for (int x : {16, 200, 376}) {
        QCOMPARE(QColor(image.pixel(x, 162)), QColor(128, 128, 128));
        QCOMPARE(QColor(image.pixel(x, 163)), QColor(Qt::white));
        QCOMPARE(QColor(image.pixel(x, 164)), QColor(Qt::white));
        QVERIFY(QColor(image.pixel(x, 166)) != QColor(Qt::white));
    }
    QVERIFY(QColor(image.pixel(5, 162)) != QColor(128, 128, 128));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
