#pragma once

#include "app/DataSettings.h"
#include "base/AppError.h"

#include <QDialog>
#include <functional>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QPushButton;

// The Data dialog: what to ask the instrument, which lines to keep, and what
// of each line to type. Edits a copy of the settings; OK hands them to the
// check it is given and closes only when the check passes, so a mistake can
// be corrected in place. Cancel and the close box discard.
class frmData : public QDialog {
    Q_OBJECT
public:
    using Check = std::function<Failure(const DataSettings&)>;
    frmData(const DataSettings& current, Check check, QWidget* parent = nullptr);

    // What OK accepted (the given settings until then).
    const DataSettings& settings() const { return m_settings; }

    // Fills the fields from a preset; 0 is the defaults.
    void applyPreset(int index);
    static QStringList presetNames();

    QComboBox* cboPreset = nullptr;
    QLineEdit* txtRequest = nullptr;
    QDoubleSpinBox* spnEvery = nullptr;
    QLineEdit* txtKeep = nullptr;
    QCheckBox* chkNumberOnly = nullptr;
    QComboBox* cboDecimal = nullptr;
    QCheckBox* chkUnitColumn = nullptr;
    QComboBox* cboLineEnd = nullptr;
    QComboBox* cboEncoding = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

private:
    void fill(const DataSettings& s);
    DataSettings edited() const;
    void Command1_Click();

    DataSettings m_settings;
    Check m_check;
};
