#include "frmData.h"

#include "forms/common/DialogHelpers.h"
#include "forms/common/Fonts.h"
#include "forms/common/WarningBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

namespace {
struct Preset {
    const char* name;
    DataSettings values;
};

DataSettings preset(const char* request, const char* every, const char* keep, bool unit,
                    const char* lineEnd) {
    DataSettings d;
    d.Request = QLatin1String(request);
    d.RequestEvery = QLatin1String(every);
    d.Keep = QLatin1String(keep);
    d.NumberOnly = QStringLiteral("1");
    d.UnitColumn = QLatin1String(unit ? "1" : "0");
    d.LineEnd = QLatin1String(lineEnd);
    return d;
}

// Named by the protocol, for instruments that speak it whoever made them.
const std::vector<Preset>& presets() {
    static const std::vector<Preset> list = {
        {"As received (the defaults)", DataSettings{}},
        {"Balance asked with S: S S stable, S D not", preset("S\\r\\n", "1", "^S S ", true, "CR")},
        {"Balance sending ST, stable, US, not", preset("", "0", "^ST,", true, "CR")},
        {"Caliper or gauge: data key", preset("", "0", "", false, "Any")},
    };
    return list;
}

QComboBox* choices(QWidget* parent, const std::vector<std::pair<QString, QString>>& items) {
    auto* box = new QComboBox(parent);
    for (const auto& [label, value] : items)
        box->addItem(label, value);
    return box;
}

void select(QComboBox* box, const QString& value) {
    box->setCurrentIndex(box->findData(value)); // -1 for a value no item stands for
}

QString chosen(const QComboBox* box, const QString& stored) {
    return box->currentIndex() < 0 ? stored : box->currentData().toString();
}
} // namespace

frmData::frmData(const DataSettings& current, Check check, QWidget* parent)
    : QDialog(parent), m_settings(current), m_check(std::move(check)) {
    setWindowTitle(QStringLiteral("Data"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(Fonts::sans(9));

    cboPreset = new QComboBox(this);
    cboPreset->addItem(QStringLiteral("Fill in from a preset..."));
    cboPreset->addItems(presetNames());
    connect(cboPreset, qOverload<int>(&QComboBox::activated), this, [this](int i) {
        if (i > 0)
            applyPreset(i - 1);
        cboPreset->setCurrentIndex(0);
    });

    txtRequest = new QLineEdit(this);
    txtRequest->setPlaceholderText(QStringLiteral("nothing is sent; e.g. S\\r\\n or \\eP"));
    spnEvery = new QDoubleSpinBox(this);
    spnEvery->setRange(0, 86400);
    spnEvery->setDecimals(2);
    spnEvery->setSingleStep(0.5);
    spnEvery->setSuffix(QStringLiteral(" s"));
    spnEvery->setSpecialValueText(QStringLiteral("only at Read Start"));
    txtKeep = new QLineEdit(this);
    txtKeep->setPlaceholderText(QStringLiteral("every line; e.g. ^S S  or  ^ST,"));
    chkNumberOnly = new QCheckBox(QStringLiteral("Type only the first number of each line"), this);
    const QString localeMark = QLocale().decimalPoint();
    cboDecimal = choices(this, {{QStringLiteral("As the desktop's language (%1)").arg(localeMark),
                                 QStringLiteral("locale")},
                                {QStringLiteral("Point (12.5)"), QStringLiteral(".")},
                                {QStringLiteral("Comma (12,5)"), QStringLiteral(",")}});
    chkUnitColumn =
        new QCheckBox(QStringLiteral("Type the unit after a TAB, into the next cell"), this);
    cboLineEnd = choices(this, {{QStringLiteral("CR (or CR LF)"), QStringLiteral("CR")},
                                {QStringLiteral("LF (or CR LF)"), QStringLiteral("LF")},
                                {QStringLiteral("Any of CR, LF, CR LF"), QStringLiteral("Any")}});
    cboEncoding =
        choices(this, {{QStringLiteral("UTF-8"), QStringLiteral("UTF-8")},
                       {QStringLiteral("Latin-1 (ISO 8859-1)"), QStringLiteral("Latin-1")},
                       {QStringLiteral("Code page 437 (IBM PC)"), QStringLiteral("CP437")},
                       {QStringLiteral("Shift-JIS"), QStringLiteral("Shift-JIS")}});
    // The window stays small: a list is as wide as the fields, and shows a
    // longer entry in full when it opens.
    for (QComboBox* box : {cboPreset, cboDecimal, cboLineEnd, cboEncoding}) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(22);
    }
    // The separator and the unit mean something only for a number.
    connect(chkNumberOnly, &QCheckBox::toggled, cboDecimal, &QWidget::setEnabled);
    connect(chkNumberOnly, &QCheckBox::toggled, chkUnitColumn, &QWidget::setEnabled);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(QStringLiteral("Preset:"), cboPreset);
    form->addRow(QStringLiteral("Request:"), txtRequest);
    form->addRow(QStringLiteral("Request every:"), spnEvery);
    form->addRow(QStringLiteral("Keep lines matching:"), txtKeep);
    form->addRow(QString(), chkNumberOnly);
    form->addRow(QStringLiteral("Decimal separator:"), cboDecimal);
    form->addRow(QString(), chkUnitColumn);
    form->addRow(QStringLiteral("Line end:"), cboLineEnd);
    form->addRow(QStringLiteral("Characters:"), cboEncoding);

    Command1 = DialogHelpers::button(this, "Command1", QStringLiteral("O   K"), QRect());
    Command2 = DialogHelpers::button(this, "Command2", QStringLiteral("Cancel"), QRect());
    connect(Command1, &QPushButton::clicked, this, &frmData::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    fill(current);
}

QStringList frmData::presetNames() {
    QStringList names;
    for (const Preset& p : presets())
        names << QString::fromUtf8(p.name);
    return names;
}

void frmData::applyPreset(int index) {
    if (index >= 0 && index < int(presets().size()))
        fill(presets()[size_t(index)].values);
}

void frmData::fill(const DataSettings& s) {
    txtRequest->setText(s.Request);
    bool ok = false;
    const double every = s.RequestEvery.toDouble(&ok);
    spnEvery->setValue(ok ? every : 0);
    txtKeep->setText(s.Keep);
    chkNumberOnly->setChecked(s.NumberOnly == QLatin1String("1"));
    select(cboDecimal, s.Decimal);
    chkUnitColumn->setChecked(s.UnitColumn == QLatin1String("1"));
    select(cboLineEnd, s.LineEnd);
    select(cboEncoding, s.Encoding);
    cboDecimal->setEnabled(chkNumberOnly->isChecked());
    chkUnitColumn->setEnabled(chkNumberOnly->isChecked());
}

DataSettings frmData::edited() const {
    DataSettings d;
    d.Request = txtRequest->text();
    d.RequestEvery = QString::number(spnEvery->value(), 'g', 10);
    d.Keep = txtKeep->text();
    d.NumberOnly = QLatin1String(chkNumberOnly->isChecked() ? "1" : "0");
    d.Decimal = chosen(cboDecimal, m_settings.Decimal);
    d.UnitColumn = QLatin1String(chkUnitColumn->isChecked() ? "1" : "0");
    d.LineEnd = chosen(cboLineEnd, m_settings.LineEnd);
    d.Encoding = chosen(cboEncoding, m_settings.Encoding);
    return d;
}

void frmData::Command1_Click() {
    const DataSettings d = edited();
    if (m_check) {
        if (const Failure f = m_check(d)) {
            showWarning(this, f->message);
            return;
        }
    }
    m_settings = d;
    accept();
}
