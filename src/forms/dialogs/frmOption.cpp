#include "frmOption.h"

#include "FramePlacement.h"
#include "GroupTabStop.h"
#include "base/NumberText.h"
#include "forms/common/DialogHelpers.h"
#include "forms/common/Twips.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace {
struct Choice {
    int index;
    const char* caption;
    QRect geometry;
};

// Builds one group; buttons are created in tab order, their id is the mode.
QButtonGroup* modeGroup(QGroupBox* frame, const char* name, const Choice (&choices)[3],
                        QObject* owner) {
    auto* group = new QButtonGroup(owner);
    for (const Choice& c : choices) {
        auto* r = new QRadioButton(QLatin1String(c.caption), frame);
        r->setObjectName(QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(c.index));
        // A caption may grow up to the next button of the row, no further.
        int next = 0;
        for (const Choice& other : choices)
            if (other.geometry.left() > c.geometry.left() &&
                (next == 0 || other.geometry.left() < next))
                next = other.geometry.left();
        placeInFrame(r, frame, c.geometry, next > 0 ? next - 2 : 0);
        group->addButton(r, c.index);
    }
    return group;
}
} // namespace

frmOption::frmOption(const InsertModes& current, QWidget* parent)
    : QDialog(parent), m_modes(current) {
    setAttribute(Qt::WA_DeleteOnClose);
    // A tool window: no minimise or maximise button, no taskbar entry.
    DialogHelpers::setUpFrame(this, QStringLiteral("Option"), 4680, 3060, Qt::Tool);
    setModal(false);
    // No cancel button: Esc does not discard the selection.
    DialogHelpers::keepOpenOnEscape(this);

    Frame1 = new QGroupBox(QStringLiteral("Date insert"), this);
    Frame1->setGeometry(twRect(240, 300, 4095, 615));
    Option1 = modeGroup(Frame1, "Option1",
                        {{0, "Non", twRect(300, 240, 855, 255)},
                         {1, "Before data", twRect(1440, 270, 1335, 255)},
                         {2, "After data", twRect(2760, 240, 1155, 315)}},
                        this);
    Frame2 = new QGroupBox(QStringLiteral("Time insert"), this);
    Frame2->setGeometry(twRect(240, 1260, 4095, 615));
    Option2 = modeGroup(Frame2, "Option2",
                        {{2, "After data", twRect(2760, 240, 1155, 315)},
                         {1, "Before data", twRect(1440, 300, 1335, 255)},
                         {0, "Non", twRect(300, 270, 855, 255)}},
                        this);
    new GroupTabStop(Option1);
    new GroupTabStop(Option2);
    DialogHelpers::onOptionSelected(Option1, [this](std::int16_t i) { Option1_Click(i); });
    DialogHelpers::onOptionSelected(Option2, [this](std::int16_t i) { Option2_Click(i); });

    Command1 = DialogHelpers::button(this, "Command1", QStringLiteral("O   K"),
                                     twRect(1680, 2280, 1095, 435));
    Command2 = DialogHelpers::button(this, "Command2", QStringLiteral("Cancel"),
                                     twRect(3180, 2280, 1155, 435));
    connect(Command1, &QPushButton::clicked, this, &frmOption::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmOption::Command2_Click);

    DialogHelpers::setTabChain({Option1->button(0), Option1->button(1), Option1->button(2),
                                Option2->button(2), Option2->button(1), Option2->button(0),
                                Command1, Command2});

    Form_Load();
}

void frmOption::Form_Load() {
    // The date mode may still be the text read from the store. A mode that
    // no button stands for selects none, and OK then leaves it as it is.
    const std::optional<std::int16_t> date = NumberText::toInt16(m_modes.InsertDate, nullptr);
    if (date)
        if (QAbstractButton* b = Option1->button(*date))
            b->setChecked(true);
    if (QAbstractButton* b = Option2->button(m_modes.InsertTime))
        b->setChecked(true);
}

void frmOption::Command1_Click() {
    if (DateIndex >= 0)
        m_modes.InsertDate = QString::number(DateIndex);
    if (TimeIndex >= 0)
        m_modes.InsertTime = TimeIndex;
    // Closes (and so deletes) the dialog, then emits accepted().
    accept();
}

void frmOption::Command2_Click() {
    close();
}

frmOption* frmOption::showOrRaise(const InsertModes& current, QPointer<frmOption>& slot) {
    if (!slot)
        slot = new frmOption(current);
    slot->show();
    slot->raise();
    slot->activateWindow();
    return slot;
}
