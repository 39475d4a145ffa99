// The insertion options dialog: pending values, what OK hands back, Cancel
// and the close box.
#include "forms/dialogs/frmOption.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {
// Lets deleteLater run, as the event loop would after a close.
void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
} // namespace

class TestOption : public QObject {
    Q_OBJECT
private slots:
    void windowAndCaptions();
    void loadsStoredTextMode();
    void okWithoutChangesKeepsModes();
    void okAppliesPendingValues();
    void cancelAndCloseBoxDiscard_data();
    void cancelAndCloseBoxDiscard();
    void groupsAreIndependent();
    void outOfRangeModeSelectsNothing_data();
    void outOfRangeModeSelectsNothing();
    void reopeningWhileOpenKeepsSelection();
    void tabOrderFollowsTheLayout();
    void escapeKeepsOpenEnterPressesFocusedButton();
};

void TestOption::windowAndCaptions() {
    InsertModes modes;
    QPointer<frmOption> dlg = new frmOption(modes);
    QCOMPARE(dlg->windowTitle(), QString("Option"));
    QVERIFY(dlg->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!dlg->isModal());
    QVERIFY(!dlg->parent());
    const Qt::WindowFlags f = dlg->windowFlags();
    QCOMPARE(f & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(!(f & Qt::WindowMinimizeButtonHint) && !(f & Qt::WindowMaximizeButtonHint));
    QCOMPARE(dlg->size(), QSize(312, 204));
    QCOMPARE(dlg->Frame1->title(), QString("Date insert"));
    QCOMPARE(dlg->Frame2->title(), QString("Time insert"));
    for (QButtonGroup* g : {dlg->Option1, dlg->Option2}) {
        QCOMPARE(g->button(0)->text(), QString("Non"));
        QCOMPARE(g->button(1)->text(), QString("Before data"));
        QCOMPARE(g->button(2)->text(), QString("After data"));
    }
    QCOMPARE(dlg->Option1->button(0)->parentWidget(), static_cast<QWidget*>(dlg->Frame1));
    QCOMPARE(dlg->Option2->button(0)->parentWidget(), static_cast<QWidget*>(dlg->Frame2));
    QCOMPARE(dlg->Command1->text(), QString("O   K"));
    QCOMPARE(dlg->Command2->text(), QString("Cancel"));
    QVERIFY(!dlg->Command1->isDefault() && !dlg->Command1->autoDefault());
    QVERIFY(!dlg->Command2->isDefault() && !dlg->Command2->autoDefault());
    delete dlg;
}

void TestOption::loadsStoredTextMode() {
    InsertModes modes;
    modes.InsertDate = "2"; // as read from the store
    modes.InsertTime = 1;
    frmOption* dlg = new frmOption(modes);
    QCOMPARE(dlg->Option1->checkedId(), 2);
    QCOMPARE(dlg->Option2->checkedId(), 1);
    QCOMPARE(dlg->dateIndex(), std::int16_t(2));
    QCOMPARE(dlg->timeIndex(), std::int16_t(1));
    delete dlg;
}

void TestOption::okWithoutChangesKeepsModes() {
    InsertModes modes;
    modes.InsertDate = " 2 ";
    modes.InsertTime = 1;
    QPointer<frmOption> dlg = new frmOption(modes);
    dlg->show();
    QSignalSpy accepted(dlg.data(), &QDialog::accepted);
    QTest::mouseClick(dlg->Command1, Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QCOMPARE(dlg->modes().InsertDate, QString("2"));
    QCOMPARE(dlg->modes().InsertTime, std::int16_t(1));
    settle();
    QVERIFY(!dlg); // closed and gone
}

void TestOption::okAppliesPendingValues() {
    InsertModes modes;
    modes.InsertDate = "0";
    modes.InsertTime = 2;
    QPointer<frmOption> dlg = new frmOption(modes);
    dlg->show();
    QTest::mouseClick(dlg->Option1->button(1), Qt::LeftButton);
    QTest::mouseClick(dlg->Option2->button(0), Qt::LeftButton);
    QCOMPARE(dlg->dateIndex(), std::int16_t(1));
    QCOMPARE(dlg->timeIndex(), std::int16_t(0));
    // Nothing is handed back before OK.
    QCOMPARE(dlg->modes().InsertDate, QString("0"));
    QCOMPARE(dlg->modes().InsertTime, std::int16_t(2));
    QTest::mouseClick(dlg->Command1, Qt::LeftButton);
    QCOMPARE(dlg->modes().InsertDate, QString("1"));
    QCOMPARE(dlg->modes().InsertTime, std::int16_t(0));
    settle();
    QVERIFY(!dlg);
}

void TestOption::cancelAndCloseBoxDiscard_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestOption::cancelAndCloseBoxDiscard() {
    QFETCH(bool, closeBox);
    InsertModes modes;
    modes.InsertDate = "2";
    modes.InsertTime = 2;
    QPointer<frmOption> dlg = new frmOption(modes);
    dlg->show();
    QSignalSpy accepted(dlg.data(), &QDialog::accepted);
    QTest::mouseClick(dlg->Option1->button(1), Qt::LeftButton);
    QTest::mouseClick(dlg->Option2->button(0), Qt::LeftButton);
    if (closeBox)
        dlg->close();
    else
        QTest::mouseClick(dlg->Command2, Qt::LeftButton);
    settle();
    QVERIFY(!dlg);
    QCOMPARE(accepted.count(), 0);
    // The next opening starts from the given modes, not the abandoned choice.
    frmOption* again = new frmOption(modes);
    QCOMPARE(again->Option1->checkedId(), 2);
    QCOMPARE(again->Option2->checkedId(), 2);
    delete again;
}

void TestOption::groupsAreIndependent() {
    InsertModes modes;
    modes.InsertDate = "1";
    modes.InsertTime = 2;
    frmOption* dlg = new frmOption(modes);
    dlg->show();
    int time = 2;
    for (int i : {0, 2, 1}) {
        QTest::mouseClick(dlg->Option1->button(i), Qt::LeftButton);
        QCOMPARE(dlg->Option2->checkedId(), time);
        QCOMPARE(dlg->timeIndex(), std::int16_t(time));
        const int date = i;
        time = (i + 1) % 3;
        QTest::mouseClick(dlg->Option2->button(time), Qt::LeftButton);
        QCOMPARE(dlg->Option1->checkedId(), date);
        QCOMPARE(dlg->dateIndex(), std::int16_t(date));
    }
    delete dlg;
}

void TestOption::outOfRangeModeSelectsNothing_data() {
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("time");
    QTest::newRow("text and 7") << "abc" << 7;
    QTest::newRow("3 and -1") << "3" << -1;
    QTest::newRow("huge") << "99999" << 3;
}

void TestOption::outOfRangeModeSelectsNothing() {
    QFETCH(QString, date);
    QFETCH(int, time);
    InsertModes modes;
    modes.InsertDate = date;
    modes.InsertTime = std::int16_t(time);
    QPointer<frmOption> dlg = new frmOption(modes);
    dlg->show();
    QCOMPARE(dlg->Option1->checkedId(), -1);
    QCOMPARE(dlg->Option2->checkedId(), -1);
    QTest::mouseClick(dlg->Command1, Qt::LeftButton);
    QCOMPARE(dlg->modes().InsertDate, date);
    QCOMPARE(dlg->modes().InsertTime, std::int16_t(time));

    // A group the user did choose in is applied, the other left alone.
    dlg = new frmOption(modes);
    dlg->show();
    QTest::mouseClick(dlg->Option2->button(1), Qt::LeftButton);
    QTest::mouseClick(dlg->Command1, Qt::LeftButton);
    QCOMPARE(dlg->modes().InsertDate, date);
    QCOMPARE(dlg->modes().InsertTime, std::int16_t(1));
    settle();
}

void TestOption::reopeningWhileOpenKeepsSelection() {
    InsertModes modes;
    modes.InsertDate = "0";
    modes.InsertTime = 0;
    QPointer<frmOption> slot;
    frmOption* first = frmOption::showOrRaise(modes, slot);
    QCOMPARE(slot.data(), first);
    QVERIFY(first->isVisible());
    QTest::mouseClick(first->Option1->button(2), Qt::LeftButton);
    frmOption* second = frmOption::showOrRaise(modes, slot);
    QCOMPARE(second, first); // brought to the front, not loaded again
    QCOMPARE(second->Option1->checkedId(), 2);
    second->close();
    settle();
    QVERIFY(!slot);
    frmOption* third = frmOption::showOrRaise(modes, slot);
    QCOMPARE(third->Option1->checkedId(), 0); // afresh after closing
    third->close();
    settle();
}

void TestOption::tabOrderFollowsTheLayout() {
    InsertModes modes;
    modes.InsertDate = "1";
    modes.InsertTime = 1;
    frmOption* dlg = new frmOption(modes);
    dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg));
    QApplication::setActiveWindow(dlg);
    dlg->Option1->button(1)->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(dlg->Option1->button(1)));
    // Each group is one stop, its selected button.
    const QList<QWidget*> expected = {dlg->Option2->button(1), dlg->Command1, dlg->Command2,
                                      dlg->Option1->button(1)};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    // Arrow keys move the selection within the group, and the pending value with it.
    QTest::keyClick(dlg->Option1->button(1), Qt::Key_Right);
    QCOMPARE(dlg->Option1->checkedId(), 2);
    QCOMPARE(dlg->dateIndex(), std::int16_t(2));
    QCOMPARE(dlg->timeIndex(), std::int16_t(1));
    delete dlg;
}

void TestOption::escapeKeepsOpenEnterPressesFocusedButton() {
    InsertModes modes;
    QPointer<frmOption> dlg = new frmOption(modes);
    dlg->show();
    QTest::keyClick(dlg, Qt::Key_Escape);
    settle();
    QVERIFY(dlg && dlg->isVisible());
    // Enter presses the focused button, and only that.
    QSignalSpy accepted(dlg.data(), &QDialog::accepted);
    QTest::keyClick(dlg->Command2, Qt::Key_Return);
    settle();
    QCOMPARE(accepted.count(), 0);
    QVERIFY(!dlg || !dlg->isVisible());
    dlg = new frmOption(modes);
    QSignalSpy acceptedAgain(dlg.data(), &QDialog::accepted);
    dlg->show();
    QTest::keyClick(dlg->Command1, Qt::Key_Enter);
    settle();
    QCOMPARE(acceptedAgain.count(), 1);
    delete dlg;
}

QTEST_MAIN(TestOption)
#include "tst_option.moc"
