#include "frmAbout.h"

#include "forms/common/DialogHelpers.h"
#include "forms/common/Fonts.h"
#include "forms/common/Twips.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {
QLabel* label(QWidget* parent, const char* name, QRect geometry, const QFont& font, bool black) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setFont(font);
    // The stand-in faces are taller than the designed ones; a label is never
    // lower than one line of its font, so no text is cut off.
    geometry.setHeight(qMax(geometry.height(), QFontMetrics(font).height()));
    l->setGeometry(geometry);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (black) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        l->setPalette(p);
    }
    return l;
}
} // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
    DialogHelpers::setUpFrame(this, QStringLiteral("About Parvelo"), 5865, 3630);
    setModal(true);

    lblTitle =
        label(this, "lblTitle", twRect(810, 120, 4095, 480), Fonts::mincho(15.75, true), true);
    lblVersion =
        label(this, "lblVersion", twRect(1020, 720, 4095, 225), Fonts::mincho(12, true), false);
    Label1 = label(this, "Label1", twRect(1200, 1200, 4065, 930), Fonts::mincho(12), true);
    Label1->setText(QStringLiteral("01.Feb.2004"));
    lblDisclaimer =
        label(this, "lblDisclaimer", twRect(255, 2625, 3870, 825), Fonts::gothic(9), true);
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setText(QStringLiteral("Parvelo types received data into the active "
                                          "application. Check the results before use."));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twRect(4245, 2625, 1467, 345));
    // Enter presses it as the default button; Esc ends a QDialog the same way.
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    cmdOK->setFocus();
    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);

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
    // The etched rule: a grey line with a white one just below it.
    QPainter p(this);
    const int left = tw(225);
    const int right = tw(5657);
    p.fillRect(QRect(QPoint(left, tw(2430)), QPoint(right, tw(2430))), QColor(128, 128, 128));
    // Two pixels wide, starting on the row under the grey one.
    p.fillRect(QRect(QPoint(tw(240), tw(2445)), QPoint(right, tw(2445) + 1)), Qt::white);
}
