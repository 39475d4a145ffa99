#pragma once

#include <QDialog>
#include <cstdint>

class QButtonGroup;
class QPushButton;
struct AppState;

// The insertion options dialog: where the date and the time go in each
// typed line. Modeless; a confirmed choice applies from the next line.
class frmOption : public QDialog {
    Q_OBJECT
public:
    explicit frmOption(AppState& state, QWidget* parent = nullptr);

    QButtonGroup* Option1 = nullptr; // date: ids 0 none, 1 before, 2 after
    QButtonGroup* Option2 = nullptr; // time
    QPushButton* Command1 = nullptr; // OK
    QPushButton* Command2 = nullptr; // Cancel

    std::int16_t dateIndex() const { return DateIndex; }
    std::int16_t timeIndex() const { return TimeIndex; }

private:
    void Form_Load();
    void Option1_Click(std::int16_t Index) { DateIndex = Index; }
    void Option2_Click(std::int16_t Index) { TimeIndex = Index; }
    void Command1_Click();

    AppState& m_state;
    // -1 while a stored mode has no button: OK then leaves that mode alone.
    std::int16_t DateIndex = -1;
    std::int16_t TimeIndex = -1;
};
