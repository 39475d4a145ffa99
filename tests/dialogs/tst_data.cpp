// The Data dialog through its widgets: a preset fills the fields, OK hands
// back the checked copy, a value the check refuses keeps the dialog open,
// Cancel discards, and the preview follows every edit.
#include "WarningAnswer.h"
#include "capture/DataOptions.h"
#include "forms/dialogs/frmData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

namespace {
Failure check(const DataSettings& d) {
    AppError error;
    if (DataOptions::from(d, &error))
        return std::nullopt;
    return error;
}
} // namespace

class TestData : public QObject {
    Q_OBJECT
private slots:
    void presetOkAndRefusal() {
        DataSettings stored;
        stored.LineEnd = "CRLF"; // no choice stands for it: OK must not pass it on unchecked
        frmData dlg(stored, check);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QCOMPARE(dlg.cboLineEnd->currentIndex(), -1);
        auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].text.contains("LineEnd \"CRLF\""));
        QVERIFY(dlg.isVisible());

        dlg.applyPreset(1); // the balance asked with S
        QCOMPARE(dlg.txtRequest->text(), QString("S\\r\\n"));
        QVERIFY(dlg.chkUnitColumn->isEnabled());
        dlg.txtKeep->setText("^S S (");
        boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].text.contains("Keep"));
        QCOMPARE(dlg.settings().LineEnd, QString("CRLF")); // nothing taken yet

        dlg.txtKeep->setText("^S S ");
        dlg.cboDecimal->setCurrentIndex(dlg.cboDecimal->findData(","));
        QVERIFY(answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); }).isEmpty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        const DataSettings& s = dlg.settings();
        QCOMPARE(s.Request, QString("S\\r\\n"));
        QCOMPARE(s.RequestEvery, QString("1"));
        QCOMPARE(s.Keep, QString("^S S "));
        QCOMPARE(s.NumberOnly + s.UnitColumn + s.Decimal + s.LineEnd + s.Encoding,
                 QString("11,CRUTF-8"));
    }

    // Typed as a user types: each key shows its effect at once, a broken
    // expression is named and OK is refused, presets fill Pick.
    void previewFollowsEdits() {
        frmData dlg(DataSettings{}, check, {"CH1 21.43 C", "CH2 22.10 C", "OVER"});
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        const auto typed = [&](int row) { return dlg.tblPreview->item(row, 1)->text(); };
        const QString ret = QString::fromUtf8("⏎"), tab = QString::fromUtf8("⇥");
        QCOMPARE(typed(0), "CH1 21.43 C" + ret);

        QTest::keyClicks(dlg.txtPick, "^CH\\d+ (");
        QVERIFY(dlg.lblProblem->isVisible());
        QVERIFY(dlg.lblProblem->text().contains("Pick \"^CH\\d+ (\" is no regular expression"));
        QCOMPARE(typed(0), QString());
        auto boxes = answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); });
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].text.contains("Pick"));
        QVERIFY(dlg.isVisible());

        QTest::keyClicks(dlg.txtPick, ".*)");
        QVERIFY(dlg.lblProblem->isHidden());
        QCOMPARE(typed(0), "21.43 C" + ret);
        QCOMPARE(typed(2), QString("skipped: does not match Pick"));
        QTest::mouseClick(dlg.chkNumberOnly, Qt::LeftButton, {},
                          QPoint(4, dlg.chkNumberOnly->height() / 2));
        dlg.spnPerRow->setValue(2);
        QCOMPARE(typed(0) + typed(1), "21.43" + tab + "22.10" + ret);
        QVERIFY(!dlg.cboAfter->isEnabled());
        QTest::keyClicks(dlg.txtSample, "CH3 -1.5 C");
        QCOMPARE(dlg.lblSample->text(), "-1.5" + tab);

        const QStringList names = frmData::presetNames();
        dlg.applyPreset(int(names.indexOf("Several readings in one line")));
        dlg.txtSample->setText("+21.4 C; -3.5 C");
        QCOMPARE(dlg.lblSample->text(), "21.4" + tab + "-3.5" + ret);
        dlg.txtSample->setText("T1=21.4 T2=22.1");
        QCOMPARE(dlg.lblSample->text(), "21.4" + tab + "22.1" + ret);
        dlg.applyPreset(int(names.indexOf("A channel or address, then the reading")));
        QCOMPARE(typed(1), "22.10" + ret);
        QVERIFY(answerBoxes([&] { QTest::mouseClick(dlg.Command1, Qt::LeftButton); }).isEmpty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QVERIFY(dlg.settings().Pick.startsWith("^\\s*[A-Za-z]*\\d+"));
        QCOMPARE(dlg.settings().NumberOnly + dlg.settings().PerRow + dlg.settings().After,
                 QString("11Return"));
    }

    void cancelDiscards() {
        frmData dlg(DataSettings{}, check);
        dlg.show();
        dlg.applyPreset(3);
        QTest::mouseClick(dlg.Command2, Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.settings().NumberOnly, QString("0"));
    }
};

QTEST_MAIN(TestData)
#include "tst_data.moc"
