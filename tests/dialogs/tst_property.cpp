// The communication properties dialog, driven through its widgets against a
// real SerialPort (no device is opened unless a test opens the pty), wired to
// it as the main window wires it.
#include "PtyPair.h"
#include "WarningAnswer.h"
#include "forms/dialogs/Property.h"
#include "forms/dialogs/ReportedSettings.h"
#include "serial/SerialPort.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QtTest>

namespace {
class PortDialog : public Property {
public:
    explicit PortDialog(SerialPort& port, DeviceResolver devices = {})
        : Property(port.choice(), std::move(devices),
                   [&port](const SerialChoice& c) { return port.take(c); }) {}
};
} // namespace

class TestProperty : public QObject {
    Q_OBJECT
private slots:
    // Loading
    void splitCountsFromTheEnd_data();
    void splitCountsFromTheEnd();
    void loadsTheCurrentPort();
    void loadsOtherSettings_data();
    void loadsOtherSettings();
    void showsTheDeviceOfEachPort();
    void keyboardKeepsFlowIndex();
    void tabOrderFollowsTheLayout();

    // OK
    void okWithoutChangesOffersTheSame();
    void okAppliesChoices();
    void okTrimsBlanks();
    void leadingBlankParityIsRefused();
    void refusedSettingsAfterPortChange();
    void portStepFailureRestoresOldNumber();
    void openPortKeptWhenNumberUnchanged();
    void openPortClosedWhenNumberChanges();

    // Leaving without applying
    void cancelAndCloseBoxChangeNothing();
    void escapeDoesNotClose();
};

void TestProperty::splitCountsFromTheEnd_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("stop");
    QTest::newRow("9600,n,8,1") << "9600,n,8,1"
                                << "9600" << 2 << "8"
                                << "1";
    QTest::newRow("1200,e,5,1.5") << "1200,e,5,1.5"
                                  << "1200" << 0 << "5"
                                  << "1.5";
    QTest::newRow("mark") << "300,m,7,2"
                          << "300" << 3 << "7"
                          << "2";
    QTest::newRow("space") << "115200,s,8,1"
                           << "115200" << 4 << "8"
                           << "1";
    QTest::newRow("upper case selects none") << "9600,N,8,1"
                                             << "9600" << -1 << "8"
                                             << "1";
    QTest::newRow("other letter") << "9600,x,8,1"
                                  << "9600" << -1 << "8"
                                  << "1";
    QTest::newRow("too short") << "1"
                               << "" << -1 << ""
                               << "1";
}

void TestProperty::splitCountsFromTheEnd() {
    QFETCH(QString, settings);
    const ReportedSettings r = ReportedSettings::split(settings);
    QTEST(r.speed, "speed");
    QTEST(r.parityEntry, "parity");
    QTEST(r.dataBits, "data");
    QTEST(r.stopBits, "stop");
}

void TestProperty::loadsTheCurrentPort() {
    SerialPort port;
    QVERIFY(!port.setCommPort(3));
    PortDialog dlg(port);
    QCOMPARE(dlg.windowTitle(), QString("Property"));
    QCOMPARE(dlg.size(), QSize(397, 185));
    QCOMPARE(dlg.cboPort->count(), 16);
    QCOMPARE(dlg.cboSpeed->count(), 16);
    QCOMPARE(dlg.cboDataBits->count(), 5);
    QCOMPARE(dlg.cboParity->count(), 5);
    QCOMPARE(dlg.cboStopBits->count(), 3);
    QCOMPARE(dlg.cboPort->itemText(0), QString("Com1"));
    QCOMPARE(dlg.cboPort->itemText(15), QString("Com16"));
    QCOMPARE(dlg.cboSpeed->itemText(15), QString("256000"));
    QCOMPARE(dlg.cboParity->itemText(4), QString("Space"));
    for (QComboBox* box :
         {dlg.cboPort, dlg.cboSpeed, dlg.cboDataBits, dlg.cboParity, dlg.cboStopBits})
        QVERIFY(box->isEditable());

    QCOMPARE(dlg.cboPort->currentIndex(), 2);
    QCOMPARE(dlg.cboSpeed->currentText(), QString("9600"));
    QCOMPARE(dlg.cboDataBits->currentText(), QString("8"));
    QCOMPARE(dlg.cboParity->currentIndex(), 2);
    QCOMPARE(dlg.cboParity->currentText(), QString("None"));
    QCOMPARE(dlg.cboStopBits->currentText(), QString("1"));
    QCOMPARE(dlg.optFlow->checkedId(), 0);
    QCOMPARE(dlg.flowIndex(), std::int16_t(0));
    QCOMPARE(dlg.Frame1->title(), QString("Flow control"));
    QCOMPARE(dlg.Command1->text(), QString("O K"));
    QVERIFY(!dlg.Command1->isDefault() && !dlg.Command1->autoDefault());
    QVERIFY(!dlg.Command2->isDefault() && !dlg.Command2->autoDefault());
}

void TestProperty::loadsOtherSettings_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<int>("handshaking");
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("stop");
    QTest::newRow("1200,e,5,1.5") << "1200,e,5,1.5" << 1 << "1200"
                                  << "Even"
                                  << "5"
                                  << "1.5";
    QTest::newRow("mark") << "4800,M,7,1" << 2 << "4800"
                          << "Mark"
                          << "7"
                          << "1";
    QTest::newRow("space") << "19200,s,8,2" << 3 << "19200"
                           << "Space"
                           << "8"
                           << "2";
    QTest::newRow("unlisted speed") << "31250,o,8,1" << 0 << "31250"
                                    << "Odd"
                                    << "8"
                                    << "1";
}

void TestProperty::loadsOtherSettings() {
    QFETCH(QString, settings);
    QFETCH(int, handshaking);
    SerialPort port;
    QVERIFY(!port.setSettings(settings));
    QVERIFY(!port.setHandshaking(handshaking));
    PortDialog dlg(port);
    QTEST(dlg.cboSpeed->currentText(), "speed");
    QTEST(dlg.cboParity->currentText(), "parity");
    QTEST(dlg.cboDataBits->currentText(), "data");
    QTEST(dlg.cboStopBits->currentText(), "stop");
    QCOMPARE(dlg.optFlow->checkedId(), handshaking);
    QCOMPARE(dlg.flowIndex(), std::int16_t(handshaking));
    // Listed entries are not added twice, unlisted ones not at all.
    QCOMPARE(dlg.cboSpeed->count(), 16);
}

void TestProperty::showsTheDeviceOfEachPort() {
    SerialPort port;
    QVERIFY(!port.setCommPort(2));
    PortDialog dlg(port, [](int n) {
        return n == 2 ? QString("/dev/resolved2") : n == 5 ? QString("/dev/ttyNamed") : QString();
    });
    dlg.show();
    QCOMPARE(dlg.cboPort->itemData(1, Qt::ToolTipRole).toString(), QString("/dev/resolved2"));
    QCOMPARE(dlg.cboPort->itemData(4, Qt::ToolTipRole).toString(), QString("/dev/ttyNamed"));
    QCOMPARE(dlg.lblDevice->text(), QString("Com2: /dev/resolved2"));
    dlg.cboPort->setCurrentIndex(4);
    QCOMPARE(dlg.lblDevice->text(), QString("Com5: /dev/ttyNamed"));
    dlg.cboPort->setEditText("nothing");
    QCOMPARE(dlg.lblDevice->text(), QString());
    // Every entry says something, "no device" at the least.
    for (int i = 0; i < 16; ++i)
        QVERIFY(!dlg.cboPort->itemData(i, Qt::ToolTipRole).toString().isEmpty());
}

void TestProperty::keyboardKeepsFlowIndex() {
    SerialPort port;
    PortDialog dlg(port);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QAbstractButton* non = dlg.optFlow->button(0);
    non->setFocus();
    QTest::keyClick(non, Qt::Key_Down);
    QCOMPARE(dlg.optFlow->checkedId(), 1);
    QCOMPARE(dlg.flowIndex(), std::int16_t(1));
    dlg.optFlow->button(3)->setChecked(true); // from code, as loading does
    QCOMPARE(dlg.flowIndex(), std::int16_t(3));
}

void TestProperty::tabOrderFollowsTheLayout() {
    SerialPort port;
    QVERIFY(!port.setHandshaking(2));
    PortDialog dlg(port);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QApplication::setActiveWindow(&dlg);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg.cboPort));
    const QList<QWidget*> expected = {dlg.cboSpeed,           dlg.Command1,  dlg.Command2,
                                      dlg.cboDataBits,        dlg.cboParity, dlg.cboStopBits,
                                      dlg.optFlow->button(2), dlg.cboPort};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // An editable box's focus lands in its line edit; the flow group is
        // entered at its selected button.
        QVERIFY2(focus == next || focus->parentWidget() == next,
                 qPrintable(focus->objectName() + " instead of " + next->objectName()));
    }
}

void TestProperty::okWithoutChangesOffersTheSame() {
    SerialPort port;
    QVERIFY(!port.setCommPort(3));
    PortDialog dlg(port);
    dlg.show();
    const auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
    QVERIFY(boxes.isEmpty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(!dlg.isVisible());
    QCOMPARE(port.CommPort(), std::int16_t(3));
    QCOMPARE(port.Settings(), QString("9600,n,8,1"));
    // Handed back as offered; the port reports the parity in lower case.
    QCOMPARE(dlg.settings().Settings, QString("9600,N,8,1"));
    QCOMPARE(dlg.settings().CommPort, std::int16_t(3));
    QCOMPARE(dlg.settings().Handshaking, 0);
}

void TestProperty::okAppliesChoices() {
    SerialPort port;
    PortDialog dlg(port);
    dlg.show();
    dlg.cboPort->setCurrentIndex(6);
    dlg.cboSpeed->setCurrentIndex(4);
    dlg.cboParity->setCurrentIndex(1);
    dlg.cboDataBits->setCurrentIndex(3);
    dlg.cboStopBits->setCurrentIndex(2);
    QTest::mouseClick(dlg.optFlow->button(2), Qt::LeftButton);
    QCOMPARE(dlg.flowIndex(), std::int16_t(2));
    const auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
    QVERIFY(boxes.isEmpty());
    QCOMPARE(port.CommPort(), std::int16_t(7));
    QCOMPARE(port.Settings(), QString("2400,o,7,2"));
    QCOMPARE(port.Handshaking(), 2);
    QCOMPARE(dlg.settings().Settings, QString("2400,O,7,2"));
    QCOMPARE(dlg.settings().CommPort, std::int16_t(7));
    QCOMPARE(dlg.settings().Handshaking, 2);
}

void TestProperty::okTrimsBlanks() {
    SerialPort port;
    PortDialog dlg(port);
    dlg.cboSpeed->setEditText("  4800 ");
    dlg.cboParity->setEditText("odd");
    dlg.cboDataBits->setEditText(" 7");
    dlg.cboStopBits->setEditText("1.5  ");
    dlg.cboDataBits->setEditText(" 5 ");
    const auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
    QVERIFY2(boxes.isEmpty(), qPrintable(boxes.value(0).text));
    QCOMPARE(port.Settings(), QString("4800,o,5,1.5"));
    QCOMPARE(dlg.settings().Settings, QString("4800,o,5,1.5"));
}

void TestProperty::leadingBlankParityIsRefused() {
    SerialPort port;
    QVERIFY(!port.setCommPort(3));
    PortDialog dlg(port);
    dlg.show();
    dlg.cboSpeed->setEditText("1200");
    dlg.cboParity->setEditText(" Even");
    const auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].caption, QString("Parvelo"));
    QCOMPARE(boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes[0].buttons, 1);
    QVERIFY2(boxes[0].text.contains("1200, ,8,1"), qPrintable(boxes[0].text));
    QVERIFY(dlg.isVisible());
    // The user's entries are still there to be corrected.
    QCOMPARE(dlg.cboParity->currentText(), QString(" Even"));
    QCOMPARE(dlg.cboSpeed->currentText(), QString("1200"));
    QCOMPARE(port.Settings(), QString("9600,n,8,1"));
    QCOMPARE(dlg.settings().Settings, QString("9600,n,8,1")); // nothing handed back

    // Corrected, the same dialog takes it.
    dlg.cboParity->setCurrentIndex(0);
    QVERIFY(answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); }).isEmpty());
    QCOMPARE(port.Settings(), QString("1200,e,8,1"));
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
}

void TestProperty::refusedSettingsAfterPortChange() {
    SerialPort port;
    QVERIFY(!port.setCommPort(3));
    PortDialog dlg(port);
    dlg.show();
    dlg.cboPort->setCurrentIndex(4);
    dlg.cboSpeed->setEditText("fast");
    const auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
    QCOMPARE(boxes.size(), 1);
    QVERIFY(dlg.isVisible());
    QCOMPARE(port.CommPort(), std::int16_t(5));
    QCOMPARE(port.Settings(), QString("9600,n,8,1"));
    QCOMPARE(dlg.settings().CommPort, std::int16_t(3)); // nothing handed back
}

void TestProperty::portStepFailureRestoresOldNumber() {
    SerialPort port;
    QVERIFY(!port.setCommPort(3));
    PortDialog dlg(port);
    dlg.show();
    dlg.cboPort->setEditText("Com99"); // no entry selected: port number 0
    dlg.cboSpeed->setEditText("2400");
    const auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].text.contains(" 0"), qPrintable(boxes[0].text));
    QVERIFY(dlg.isVisible());
    QCOMPARE(port.CommPort(), std::int16_t(3));
    QCOMPARE(port.Settings(), QString("9600,n,8,1")); // later steps never ran
    QCOMPARE(dlg.settings().CommPort, std::int16_t(3));

    // Typing an entry's text exactly counts as choosing it.
    dlg.cboPort->setEditText("Com12");
    QVERIFY(answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); }).isEmpty());
    QCOMPARE(port.CommPort(), std::int16_t(12));
    QCOMPARE(dlg.settings().CommPort, std::int16_t(12));
}

void TestProperty::openPortKeptWhenNumberUnchanged() {
    PtyPair pty;
    QVERIFY(pty.isValid());
    SerialPort port;
    const auto devices = [&](int n) { return n == 3 ? pty.slavePath() : QString(); };
    port.setPortResolver(devices);
    QVERIFY(!port.setCommPort(3));
    QVERIFY(!port.setPortOpen(true));
    PortDialog dlg(port, devices);
    QCOMPARE(dlg.lblDevice->toolTip(), "Com3: " + pty.slavePath());
    dlg.cboSpeed->setCurrentIndex(8); // 19200
    QVERIFY(answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); }).isEmpty());
    QVERIFY(port.PortOpen());
    QCOMPARE(port.Settings(), QString("19200,n,8,1"));
}

void TestProperty::openPortClosedWhenNumberChanges() {
    PtyPair pty;
    QVERIFY(pty.isValid());
    SerialPort port;
    port.setPortResolver([&](int n) { return n <= 4 ? pty.slavePath() : QString(); });
    QVERIFY(!port.setCommPort(3));
    QVERIFY(!port.setPortOpen(true));
    {
        PortDialog dlg(port);
        dlg.cboPort->setCurrentIndex(3);
        QVERIFY(answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); }).isEmpty());
    }
    QCOMPARE(port.CommPort(), std::int16_t(4));
    QVERIFY(!port.PortOpen()); // not reopened by the dialog
}

void TestProperty::cancelAndCloseBoxChangeNothing() {
    SerialPort port;
    QVERIFY(!port.setCommPort(3));
    QVERIFY(!port.setHandshaking(1));
    for (bool closeBox : {false, true}) {
        PortDialog dlg(port);
        dlg.show();
        dlg.cboPort->setCurrentIndex(8);
        dlg.cboSpeed->setEditText("1200");
        QTest::mouseClick(dlg.optFlow->button(3), Qt::LeftButton);
        if (closeBox)
            dlg.close();
        else
            QTest::mouseClick(dlg.Command2, Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!dlg.isVisible());
        QCOMPARE(port.CommPort(), std::int16_t(3));
        QCOMPARE(port.Settings(), QString("9600,n,8,1"));
        QCOMPARE(port.Handshaking(), 1);
        QCOMPARE(dlg.settings().CommPort, std::int16_t(3)); // nothing handed back
    }
    // The next opening shows the component's handshaking again.
    PortDialog dlg(port);
    QCOMPARE(dlg.optFlow->checkedId(), 1);
}

void TestProperty::escapeDoesNotClose() {
    SerialPort port;
    PortDialog dlg(port);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QTest::keyClick(dlg.cboSpeed, Qt::Key_Return);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

QTEST_MAIN(TestProperty)
#include "tst_property.moc"
