// The Data dialog through its widgets: a preset fills the fields, OK hands
// back the checked copy, a value the check refuses keeps the dialog open,
// and Cancel discards.
#include "WarningAnswer.h"
#include "capture/DataOptions.h"
#include "forms/dialogs/frmData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
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
