#include "frmAbout.h"

#include "forms/common/Fonts.h"
#include "forms/common/Twips.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {
QLabel* label(QWidget* parent, QRect geometry, const QFont& font, bool black) {
    auto* l = new QLabel(parent);
    l->setGeometry(geometry);
    l->setFont(font);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (black)
        l->setStyleSheet(QStringLiteral("color: black"));
    return l;
}
} // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("About Parvelo"));
    setFont(Fonts::sans(9));
    setFixedSize(tw(5865), tw(3630));

    lblTitle = label(this, twRect(810, 120, 4095, 480), Fonts::mincho(15.75, true), true);
    lblVersion = label(this, twRect(1020, 720, 4095, 225), Fonts::mincho(12, true), false);
    Label1 = label(this, twRect(1200, 1200, 4065, 930), Fonts::mincho(12), true);
    Label1->setText(QStringLiteral("01.Feb.2004"));
    lblDisclaimer = label(this, twRect(255, 2625, 3870, 825), Fonts::gothic(9), true);
    lblDisclaimer->setText(QStringLiteral(
        "Parvelo types received data into the active program. Check the results before "
        "relying on them."));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(twRect(4245, 2625, 1467, 345));
    // Enter presses OK as the default button; Esc closes the dialog as well.
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    cmdOK->setFocus();
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    Form_Load();
}

QString frmAbout::versionText() {
    return QStringLiteral("Version %1.%2.%3")
        .arg(PARVELO_VERSION_MAJOR)
        .arg(PARVELO_VERSION_MINOR)
        .arg(PARVELO_VERSION_PATCH);
}

void frmAbout::Form_Load() {
    lblVersion->setText(versionText());
    lblTitle->setText(QStringLiteral("Parvelo"));
}

void frmAbout::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The etched rule between the texts and the bottom row.
    QPainter p(this);
    p.setPen(QPen(QColor(128, 128, 128), 1));
    p.drawLine(tw(225), tw(2430), tw(5657), tw(2430));
    p.setPen(QPen(QColor(255, 255, 255), 2));
    p.drawLine(tw(240), tw(2445), tw(5657), tw(2445));
}
