#pragma once

#include "app/DataSettings.h"
#include "base/AppError.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

// The Data dialog: what to ask the instrument, which lines to keep, and what
// of each line to type. Edits a copy of the settings; OK hands them to the
// check it is given and closes only when the check passes, so a mistake can
// be corrected in place. Cancel and the close box discard. A preview shows,
// for the lines received last and for a line the user types, what would be
// typed with the values as they stand in the dialog.
class frmData : public QDialog {
    Q_OBJECT
public:
    using Check = std::function<Failure(const DataSettings&)>;
    frmData(const DataSettings& current, Check check, const QStringList& received = {},
            QWidget* parent = nullptr);

    // What OK accepted (the given settings until then).
    const DataSettings& settings() const { return m_settings; }

    // Fills the fields from a preset; 0 is the defaults.
    void applyPreset(int index);
    static QStringList presetNames();

    QComboBox* cboPreset = nullptr;
    QLineEdit* txtRequest = nullptr;
    QLineEdit* txtIdentify = nullptr;
    QDoubleSpinBox* spnEvery = nullptr;
    QLineEdit* txtKeep = nullptr;
    QCheckBox* chkNumberOnly = nullptr;
    QComboBox* cboDecimal = nullptr;
    QCheckBox* chkUnitColumn = nullptr;
    QLineEdit* txtPick = nullptr;
    QComboBox* cboAfter = nullptr;
    QSpinBox* spnPerRow = nullptr;
    QComboBox* cboLineEnd = nullptr;
    QComboBox* cboEncoding = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    // The preview: received lines and what each becomes, a line to try and
    // what it becomes, and what keeps the values from working.
    QTableWidget* tblPreview = nullptr;
    QLineEdit* txtSample = nullptr;
    QLabel* lblSample = nullptr;
    QLabel* lblProblem = nullptr;

private:
    void updatePreview();
    void fill(const DataSettings& s);
    DataSettings edited() const;
    void Command1_Click();

    DataSettings m_settings;
    Check m_check;
    QStringList m_received;
};
