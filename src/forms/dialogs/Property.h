#pragma once

// The dialogs folder: Property (serial settings) and Option (insertion modes). Each
// edits a copy of the values it is given and hands it back on OK. It includes base/,
// app/ (the settings schema), serial/ and forms/common/.

#include <QDialog>
#include <cstdint>

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class SerialPort;
class SettingsStore;

// The communication properties dialog: edits the port of the main window and,
// once the port has taken every value, keeps them in [Properties].
class Property : public QDialog {
    Q_OBJECT
public:
    Property(SerialPort& comm, SettingsStore& store, QWidget* parent = nullptr);

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

    SerialPort& m_comm;
    SettingsStore& m_store;
    std::int16_t FlowIndex = -1;
};
