#pragma once

// The dialogs folder: Property (serial settings) and Option (insertion modes). Each
// is given a copy of the values it shows and hands the edited copy back on OK; the
// main window applies and stores it. It includes base/, forms/common/, and of app/
// and serial/ only their plain values (InsertModes, SerialChoice): no store, no port.

#include "base/AppError.h"
#include "serial/SerialChoice.h"

#include <QDialog>
#include <cstdint>
#include <functional>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

// The communication properties dialog: port number, settings string and
// handshaking. OK offers the edited values to the port through apply; a
// refusal is shown and keeps the dialog open, so the user can correct it.
class Property : public QDialog {
    Q_OBJECT
public:
    // The device a port number stands for; empty when there is none.
    using DeviceResolver = std::function<QString(int)>;
    // Hands the edited values to the port, which may refuse them.
    using Apply = std::function<Failure(const SerialChoice&)>;

    Property(const SerialChoice& current, DeviceResolver devices, Apply apply,
             QWidget* parent = nullptr);

    // The values OK handed over (the current ones until then).
    const SerialChoice& settings() const { return m_choice; }
    std::int16_t flowIndex() const { return FlowIndex; }

    QComboBox* cboPort = nullptr;
    QComboBox* cboSpeed = nullptr;
    QComboBox* cboDataBits = nullptr;
    QComboBox* cboParity = nullptr;
    QComboBox* cboStopBits = nullptr;
    QGroupBox* Frame1 = nullptr;
    QButtonGroup* optFlow = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    // Which device the chosen port number stands for on this machine.
    QLabel* lblDevice = nullptr;

private:
    void buildControls();
    void Form_Load();
    void LoadPropertySettings();
    void optFlow_Click(std::int16_t Index);
    void Command1_Click();
    void Command2_Click();

    int selectedPortPosition() const;
    QString deviceText(int number) const;
    void showDeviceOfSelection();

    SerialChoice m_choice;
    DeviceResolver m_devices;
    Apply m_apply;
    std::int16_t FlowIndex = -1;
};
