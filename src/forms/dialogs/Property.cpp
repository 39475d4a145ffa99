#include "Property.h"

#include "FramePlacement.h"
#include "GroupTabStop.h"
#include "ReportedSettings.h"
#include "forms/common/DialogHelpers.h"
#include "forms/common/Twips.h"
#include "forms/common/WarningBox.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace {
QLabel* label(QWidget* parent, const QString& text, QRect geometry) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(geometry);
    return l;
}

QComboBox* dropDown(QWidget* parent, const char* name, QRect geometry) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setEditable(true);
    // Typed text is a value to apply, never a new list entry.
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setGeometry(geometry);
    return c;
}
} // namespace

Property::Property(const SerialChoice& current, DeviceResolver devices, Apply apply,
                   QWidget* parent)
    : QDialog(parent), m_choice(current), m_devices(std::move(devices)), m_apply(std::move(apply)) {
    DialogHelpers::setUpFrame(this, QStringLiteral("Property"), 5955, 2775);
    setModal(true);
    // Neither button is the cancel button.
    DialogHelpers::keepOpenOnEscape(this);
    buildControls();
    Form_Load();
}

void Property::buildControls() {
    label(this, QStringLiteral("Port number"), twRect(120, 300, 1275, 255));
    cboPort = dropDown(this, "cboPort", twRect(1500, 240, 1215, 345));
    label(this, QStringLiteral("Speed "), twRect(120, 780, 1275, 255));
    cboSpeed = dropDown(this, "cboSpeed", twRect(1500, 720, 1215, 345));
    label(this, QStringLiteral("Data bit"), twRect(120, 1260, 1275, 255));
    cboDataBits = dropDown(this, "cboDataBits", twRect(1500, 1200, 1215, 345));
    label(this, QStringLiteral("Parity"), twRect(120, 1740, 1275, 255));
    cboParity = dropDown(this, "cboParity", twRect(1500, 1680, 1215, 345));
    label(this, QStringLiteral("Stop bit"), twRect(120, 2220, 1275, 255));
    cboStopBits = dropDown(this, "cboStopBits", twRect(1500, 2160, 1215, 345));

    Frame1 = new QGroupBox(QStringLiteral("Flow control"), this);
    Frame1->setGeometry(twRect(2880, 180, 1395, 1935));
    optFlow = new QButtonGroup(this);
    struct Flow {
        const char* caption;
        QRect geometry;
    };
    const Flow flows[] = {{"Non", twRect(240, 360, 855, 225)},
                          {"Xon/Xoff", twRect(240, 720, 975, 225)},
                          {"RTS", twRect(240, 1080, 855, 255)},
                          {"Xon/RTS", twRect(240, 1440, 1095, 255)}};
    for (int i = 0; i < 4; ++i) {
        auto* r = new QRadioButton(QLatin1String(flows[i].caption), Frame1);
        r->setObjectName(QStringLiteral("optFlow%1").arg(i));
        placeInFrame(r, Frame1, flows[i].geometry);
        optFlow->addButton(r, i);
    }
    new GroupTabStop(optFlow);
    DialogHelpers::onOptionSelected(optFlow, [this](std::int16_t i) { optFlow_Click(i); });

    Command1 = DialogHelpers::button(this, "Command1", QStringLiteral("O K"),
                                     twRect(4560, 300, 1215, 375));
    Command2 = DialogHelpers::button(this, "Command2", QStringLiteral("Cancel"),
                                     twRect(4560, 900, 1215, 375));
    connect(Command1, &QPushButton::clicked, this, &Property::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Property::Command2_Click);

    // The free strip under the flow-control frame, beside the stop bits.
    lblDevice = new QLabel(this);
    lblDevice->setObjectName(QStringLiteral("lblDevice"));
    lblDevice->setGeometry(twRect(2880, 2220, 2955, 255));
    connect(cboPort, &QComboBox::currentIndexChanged, this, &Property::showDeviceOfSelection);
    connect(cboPort, &QComboBox::editTextChanged, this, &Property::showDeviceOfSelection);

    DialogHelpers::setTabChain({cboPort, cboSpeed, Command1, Command2, cboDataBits, cboParity,
                                cboStopBits, optFlow->button(0), optFlow->button(1),
                                optFlow->button(2), optFlow->button(3)});
    cboPort->setFocus();
}

void Property::Form_Load() {
    DialogHelpers::centreOnScreen(this, size());
    LoadPropertySettings();
}

void Property::LoadPropertySettings() {
    for (int n = 1; n <= 16; ++n) {
        cboPort->addItem(QStringLiteral("Com%1").arg(n));
        cboPort->setItemData(n - 1, deviceText(n), Qt::ToolTipRole);
    }
    cboSpeed->addItems({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                        "28800", "38400", "56000", "57600", "115200", "128000", "256000"});
    cboDataBits->addItems({"4", "5", "6", "7", "8"});
    cboParity->addItems({"Even", "Odd", "None", "Mark", "Space"});
    cboStopBits->addItems({"1", "1.5", "2"});
    // Adding entries selects the first one; the boxes start with nothing
    // selected so that a value not found below leaves a box empty.
    for (QComboBox* box : {cboPort, cboSpeed, cboDataBits, cboParity, cboStopBits})
        box->setCurrentIndex(-1);

    const ReportedSettings reported = ReportedSettings::split(m_choice.Settings);
    cboSpeed->setEditText(reported.speed);
    if (reported.parityEntry >= 0)
        cboParity->setCurrentIndex(reported.parityEntry);
    cboDataBits->setEditText(reported.dataBits);
    cboStopBits->setEditText(reported.stopBits);

    const int port = m_choice.CommPort;
    cboPort->setCurrentIndex(port >= 1 && port <= 16 ? port - 1 : -1);
    showDeviceOfSelection();

    // A value no button stands for selects none; OK then offers it to the
    // component again as it is, which refuses it.
    const qint32 handshaking = m_choice.Handshaking;
    if (QAbstractButton* b = optFlow->button(handshaking))
        b->setChecked(true);
}

void Property::optFlow_Click(std::int16_t Index) {
    FlowIndex = Index;
}

int Property::selectedPortPosition() const {
    // The entry the box shows: the current one, or the entry the user typed.
    const QString text = cboPort->currentText();
    const int current = cboPort->currentIndex();
    if (current >= 0 && cboPort->itemText(current) == text)
        return current;
    return cboPort->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

QString Property::deviceText(int number) const {
    const QString path = m_devices ? m_devices(number) : QString();
    return path.isEmpty() ? QStringLiteral("no device") : path;
}

void Property::showDeviceOfSelection() {
    const int position = selectedPortPosition();
    if (position < 0) {
        lblDevice->clear();
        lblDevice->setToolTip(QString());
        return;
    }
    const QString text =
        QStringLiteral("Com%1: %2").arg(position + 1).arg(deviceText(position + 1));
    lblDevice->setText(fontMetrics().elidedText(text, Qt::ElideMiddle, lblDevice->width()));
    lblDevice->setToolTip(text);
}

void Property::Command1_Click() {
    SerialChoice edited;
    edited.CommPort = static_cast<std::int16_t>(selectedPortPosition() + 1);
    edited.Settings = cboSpeed->currentText().trimmed() + QLatin1Char(',') +
                      cboParity->currentText().left(1) + QLatin1Char(',') +
                      cboDataBits->currentText().trimmed() + QLatin1Char(',') +
                      cboStopBits->currentText().trimmed();
    edited.Handshaking = FlowIndex;
    if (Failure f = m_apply(edited)) {
        showWarning(this, f->message);
        return;
    }
    m_choice = edited;
    accept();
}

void Property::Command2_Click() {
    reject();
}
