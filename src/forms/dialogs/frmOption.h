#pragma once

#include "app/InsertMode.h"

#include <QDialog>
#include <QPointer>
#include <cstdint>

class QButtonGroup;
class QGroupBox;
class QPushButton;

// The insertion options dialog: where the date and the time go into each
// typed line. Modeless and owned by nobody; it deletes itself when closed,
// so every opening starts again from the modes it is given. OK emits
// accepted() with modes() holding the choice.
class frmOption : public QDialog {
    Q_OBJECT
public:
    explicit frmOption(const InsertModes& current, QWidget* parent = nullptr);

    // Opens a new dialog showing current into slot, or brings the open one to
    // the front with its unconfirmed selection intact.
    static frmOption* showOrRaise(const InsertModes& current, QPointer<frmOption>& slot);

    // The modes OK handed over (the given ones until then); a group without
    // a selection keeps its mode.
    const InsertModes& modes() const { return m_modes; }

    // The pending modes; -1 while the group has no selection.
    std::int16_t dateIndex() const { return DateIndex; }
    std::int16_t timeIndex() const { return TimeIndex; }

    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QButtonGroup* Option1 = nullptr;
    QButtonGroup* Option2 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;

private:
    void Form_Load();
    void Option1_Click(std::int16_t Index) { DateIndex = Index; }
    void Option2_Click(std::int16_t Index) { TimeIndex = Index; }
    void Command1_Click();
    void Command2_Click();

    InsertModes m_modes;
    std::int16_t DateIndex = -1;
    std::int16_t TimeIndex = -1;
};
