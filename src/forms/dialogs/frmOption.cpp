#include "frmOption.h"

#include "app/AppState.h"
#include "app/NumberText.h"
#include "forms/common/Fonts.h"
#include "forms/common/Twips.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace {
struct Choice {
    int index;
    const char* caption;
    int left, top, width, height;
};

QButtonGroup* optionGroup(QGroupBox* frame, const Choice (&choices)[3]) {
    auto* group = new QButtonGroup(frame);
    // Buttons are created in the group's keyboard order.
    for (const Choice& c : choices) {
        auto* b = new QRadioButton(QString::fromLatin1(c.caption), frame);
        b->setGeometry(twRect(c.left, c.top, c.width, c.height));
        group->addButton(b, c.index);
    }
    return group;
}
} // namespace

frmOption::frmOption(AppState& state, QWidget* parent) : QDialog(parent), m_state(state) {
    setWindowTitle(QStringLiteral("Option"));
    // A tool window: no minimise or maximise box and no taskbar entry.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFont(Fonts::sans(9));
    setFixedSize(tw(4680), tw(3060));

    auto* frame1 = new QGroupBox(QStringLiteral("Date insert"), this);
    frame1->setGeometry(twRect(240, 300, 4095, 615));
    Option1 = optionGroup(frame1, {{0, "Non", 300, 240, 855, 255},
                                   {1, "Before data", 1440, 270, 1335, 255},
                                   {2, "After data", 2760, 240, 1155, 315}});
    auto* frame2 = new QGroupBox(QStringLiteral("Time insert"), this);
    frame2->setGeometry(twRect(240, 1260, 4095, 615));
    Option2 = optionGroup(frame2, {{2, "After data", 2760, 240, 1155, 315},
                                   {1, "Before data", 1440, 300, 1335, 255},
                                   {0, "Non", 300, 270, 855, 255}});

    Command1 = new QPushButton(QStringLiteral("O   K"), this);
    Command1->setGeometry(twRect(1680, 2280, 1095, 435));
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setGeometry(twRect(3180, 2280, 1155, 435));
    for (QPushButton* b : {Command1, Command2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    connect(Option1, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            Option1_Click(std::int16_t(id));
    });
    connect(Option2, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            Option2_Click(std::int16_t(id));
    });
    connect(Command1, &QPushButton::clicked, this, &frmOption::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &QDialog::close);
    Form_Load();
}

void frmOption::Form_Load() {
    // A stored mode outside 0 to 2 (or not a number) has no button: none is
    // selected in that group.
    if (const auto d = NumberText::toInt16(m_state.InsertDate, nullptr); d && *d >= 0 && *d <= 2)
        Option1->button(*d)->setChecked(true);
    if (m_state.InsertTime >= 0 && m_state.InsertTime <= 2)
        Option2->button(m_state.InsertTime)->setChecked(true);
}

void frmOption::Command1_Click() {
    if (DateIndex >= 0)
        m_state.InsertDate = QString::number(DateIndex);
    if (TimeIndex >= 0)
        m_state.InsertTime = TimeIndex;
    close();
}
