#include "frmData.h"

#include "capture/DataOptions.h"
#include "forms/common/DialogHelpers.h"
#include "forms/common/Fonts.h"
#include "forms/common/WarningBox.h"
#include "platform/KeyActions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>

namespace {
struct Preset {
    const char* name;
    DataSettings values;
};

DataSettings preset(const char* request, const char* every, const char* keep, bool unit,
                    const char* lineEnd, const char* pick = "") {
    DataSettings d;
    d.Pick = QString::fromUtf8(pick);
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
        // "CH1 21.43 C", "01,+021.4", "A3: -1.5e-3": a tag of letters and
        // digits, a separator, then the reading.
        {"A channel or address, then the reading",
         preset("", "0", "", false, "CR", R"(^\s*[A-Za-z]*\d+\s*[,;:=\s]\s*(.+))")},
        // "21.43,22.10", "+21.4 C; -3.5 C", "T1=21.4 T2=22.1": the first two
        // numbers that stand alone (the 1 of "T1" names a channel); another
        // .+?(...) group takes a third.
        {"Several readings in one line",
         preset("", "0", "", false, "CR",
                R"((?<![\w.,])([-+]?\d+(?:[.,]\d+)?(?:[eE][-+]?\d+)?).+?)"
                R"((?<![\w.,])([-+]?\d+(?:[.,]\d+)?(?:[eE][-+]?\d+)?))")},
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

// The keys as marks the user can see.
QString visible(const QString& typed) {
    QString out = typed;
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\u23CE"))
        .replace(QLatin1Char('\t'), QStringLiteral("\u21E5"))
        .replace(QChar(KeyActions::DownMark), QStringLiteral("\u2193"))
        .replace(QChar(KeyActions::RightMark), QStringLiteral("\u2192"));
    return out;
}

// What one line becomes at *column of a row.
QString outcome(const DataOptions& o, const QString& line, int* column) {
    QString why;
    const std::optional<QString> data = o.shape(line, &why);
    if (!data)
        return QStringLiteral("skipped: ") + why;
    return visible(*data + o.keyAfter(column));
}
} // namespace

frmData::frmData(const DataSettings& current, Check check, const QStringList& received,
                 QWidget* parent)
    : QDialog(parent), m_settings(current), m_check(std::move(check)), m_received(received) {
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

    txtIdentify = new QLineEdit(this);
    txtIdentify->setPlaceholderText(
        QStringLiteral("nothing is asked; e.g. *IDN?\\n (the answer is journalled, not typed)"));
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
    txtPick = new QLineEdit(this);
    txtPick->setPlaceholderText(QStringLiteral("the whole line; groups ( ) pick the values"));
    cboAfter =
        choices(this, {{QStringLiteral("Return (next row)"), QStringLiteral("Return")},
                       {QStringLiteral("Tab (next cell to the right)"), QStringLiteral("Tab")},
                       {QStringLiteral("Down arrow"), QStringLiteral("Down")},
                       {QStringLiteral("Right arrow"), QStringLiteral("Right")},
                       {QStringLiteral("Nothing"), QStringLiteral("None")}});
    spnPerRow = new QSpinBox(this);
    spnPerRow->setRange(1, DataOptions::MaxPerRow);
    spnPerRow->setSpecialValueText(QStringLiteral("one (After decides)"));
    // A row of readings ends with Return whatever After says.
    connect(spnPerRow, qOverload<int>(&QSpinBox::valueChanged), cboAfter,
            [this](int n) { cboAfter->setEnabled(n < 2); });

    // The window stays small: a list is as wide as the fields, and shows a
    // longer entry in full when it opens.
    for (QComboBox* box : {cboPreset, cboDecimal, cboLineEnd, cboEncoding, cboAfter}) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->setMinimumContentsLength(22);
    }
    // The separator and the unit mean something only for a number.
    connect(chkNumberOnly, &QCheckBox::toggled, cboDecimal, &QWidget::setEnabled);
    connect(chkNumberOnly, &QCheckBox::toggled, chkUnitColumn, &QWidget::setEnabled);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(QStringLiteral("Preset:"), cboPreset);
    form->addRow(QStringLiteral("Identify:"), txtIdentify);
    form->addRow(QStringLiteral("Request:"), txtRequest);
    form->addRow(QStringLiteral("Request every:"), spnEvery);
    form->addRow(QStringLiteral("Keep lines matching:"), txtKeep);
    form->addRow(QStringLiteral("Pick from each line:"), txtPick);
    form->addRow(QString(), chkNumberOnly);
    form->addRow(QStringLiteral("Decimal separator:"), cboDecimal);
    form->addRow(QString(), chkUnitColumn);
    form->addRow(QStringLiteral("After each reading:"), cboAfter);
    form->addRow(QStringLiteral("Readings per row:"), spnPerRow);
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

    // The preview, tried again at every edit.
    auto* preview = new QGroupBox(QStringLiteral("What would be typed"), this);
    tblPreview = new QTableWidget(0, 2, preview);
    tblPreview->setHorizontalHeaderLabels({QStringLiteral("Received"), QStringLiteral("Typed")});
    tblPreview->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tblPreview->verticalHeader()->hide();
    tblPreview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblPreview->setSelectionMode(QAbstractItemView::NoSelection);
    tblPreview->setFocusPolicy(Qt::NoFocus);
    // Six lines in view, the latest at the bottom; the rest scroll.
    const int rowHeight = tblPreview->fontMetrics().height() + 6;
    tblPreview->verticalHeader()->setDefaultSectionSize(rowHeight);
    tblPreview->setFixedHeight(tblPreview->horizontalHeader()->sizeHint().height() + rowHeight * 6 +
                               2 * tblPreview->frameWidth());
    tblPreview->setRowCount(int(m_received.size()));
    for (int i = 0; i < m_received.size(); ++i) {
        tblPreview->setItem(i, 0, new QTableWidgetItem(m_received[i]));
        tblPreview->setItem(i, 1, new QTableWidgetItem);
    }
    tblPreview->scrollToBottom();
    txtSample = new QLineEdit(preview);
    txtSample->setPlaceholderText(m_received.isEmpty()
                                      ? QStringLiteral("no line received yet: type or paste one")
                                      : QStringLiteral("type or paste a line to try"));
    lblSample = new QLabel(preview);
    lblSample->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblProblem = new QLabel(preview);
    lblProblem->setWordWrap(true);
    lblProblem->setStyleSheet(QStringLiteral("color: #b00000"));
    auto* sample = new QFormLayout;
    sample->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    sample->addRow(QStringLiteral("Try a line:"), txtSample);
    sample->addRow(QStringLiteral("Typed:"), lblSample);
    auto* previewLayout = new QVBoxLayout(preview);
    previewLayout->addWidget(tblPreview);
    previewLayout->addLayout(sample);
    previewLayout->addWidget(lblProblem);
    preview->setMinimumWidth(tblPreview->fontMetrics().averageCharWidth() * 70);

    for (QLineEdit* edit : {txtKeep, txtPick, txtSample})
        connect(edit, &QLineEdit::textChanged, this, &frmData::updatePreview);
    for (QCheckBox* box : {chkNumberOnly, chkUnitColumn})
        connect(box, &QCheckBox::toggled, this, &frmData::updatePreview);
    for (QComboBox* box : {cboDecimal, cboAfter, cboEncoding})
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &frmData::updatePreview);
    connect(spnPerRow, qOverload<int>(&QSpinBox::valueChanged), this, &frmData::updatePreview);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(preview);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    DialogHelpers::setTabChain({cboPreset, txtIdentify, txtRequest, spnEvery, txtKeep, txtPick,
                                chkNumberOnly, cboDecimal, chkUnitColumn, cboAfter, spnPerRow,
                                cboLineEnd, cboEncoding, txtSample, Command1, Command2});
    fill(current);
    updatePreview();
}

void frmData::updatePreview() {
    AppError error;
    const std::optional<DataOptions> o = DataOptions::from(edited(), &error);
    // The message is written for the main window; here the fields are at hand.
    lblProblem->setText(
        o ? QString()
          : QString(error.message).remove(QStringLiteral(" Open Data and correct it.")));
    lblProblem->setVisible(!o);
    int column = 0; // the received lines as the readings of one run
    for (int i = 0; i < tblPreview->rowCount(); ++i)
        tblPreview->item(i, 1)->setText(o ? outcome(*o, m_received[i], &column) : QString());
    column = 0;
    lblSample->setText(o && !txtSample->text().isEmpty() ? outcome(*o, txtSample->text(), &column)
                                                         : QString());
}

QStringList frmData::presetNames() {
    QStringList names;
    for (const Preset& p : presets())
        names << QString::fromUtf8(p.name);
    return names;
}

void frmData::applyPreset(int index) {
    if (index < 0 || index >= int(presets().size()))
        return;
    // A preset is about the readings; what names the instrument stays.
    DataSettings values = presets()[size_t(index)].values;
    values.Identify = txtIdentify->text();
    fill(values);
}

void frmData::fill(const DataSettings& s) {
    txtIdentify->setText(s.Identify);
    txtRequest->setText(s.Request);
    bool ok = false;
    const double every = s.RequestEvery.toDouble(&ok);
    spnEvery->setValue(ok ? every : 0);
    txtKeep->setText(s.Keep);
    txtPick->setText(s.Pick);
    select(cboAfter, s.After);
    bool whole = false;
    const int perRow = s.PerRow.toInt(&whole);
    spnPerRow->setValue(whole ? perRow : 1);
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
    d.Identify = txtIdentify->text();
    d.Request = txtRequest->text();
    d.RequestEvery = QString::number(spnEvery->value(), 'g', 10);
    d.Keep = txtKeep->text();
    d.NumberOnly = QLatin1String(chkNumberOnly->isChecked() ? "1" : "0");
    d.Decimal = chosen(cboDecimal, m_settings.Decimal);
    d.UnitColumn = QLatin1String(chkUnitColumn->isChecked() ? "1" : "0");
    d.Pick = txtPick->text();
    d.After = chosen(cboAfter, m_settings.After);
    d.PerRow = QString::number(spnPerRow->value());
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
