#include "StatusPanels.h"

#include "forms/common/Twips.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QTimer>

StatusPanels::StatusPanels(QWidget* parent) : QStatusBar(parent), m_clockTimer(new QTimer(this)) {
    setSizeGripEnabled(false);
    // Once a second is enough for a clock that shows minutes, and costs nothing.
    m_clockTimer->setInterval(1000);
    connect(m_clockTimer, &QTimer::timeout, this, &StatusPanels::refreshClock);
    m_clockTimer->start();
}

QLabel* StatusPanels::addPanel(int widthTwips) {
    auto* label = new QLabel(this);
    label->setFixedWidth(tw(widthTwips));
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    addWidget(label);
    return label;
}

void StatusPanels::addTextPanel(const QString& key, const QString& text, int widthTwips) {
    QLabel* label = addPanel(widthTwips);
    label->setText(text);
    m_panels.insert(key, label);
}

void StatusPanels::addDatePanel(int widthTwips) {
    m_date = addPanel(widthTwips);
    m_panels.insert(QStringLiteral("Date"), m_date);
    m_date->setAlignment(Qt::AlignCenter);
    refreshClock();
}

void StatusPanels::addTimePanel(int widthTwips) {
    m_time = addPanel(widthTwips);
    m_time->setAlignment(Qt::AlignCenter);
    refreshClock();
}

QString StatusPanels::panelText(const QString& key) const {
    const QLabel* label = m_panels.value(key);
    return label ? label->text() : QString();
}

void StatusPanels::setPanelText(const QString& key, const QString& text) {
    if (QLabel* label = m_panels.value(key))
        label->setText(text);
}

void StatusPanels::setPanelVisible(const QString& key, bool visible) {
    if (QLabel* label = m_panels.value(key))
        label->setVisible(visible);
}

// The locale's short time format without its seconds, which some short
// formats (the C locale's among them) include.
QString StatusPanels::hoursAndMinutes(const QLocale& locale) {
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression(QStringLiteral("[^hHmaAp ]*s+")));
    return format.trimmed();
}

void StatusPanels::refreshClock() {
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale;
    if (m_date)
        m_date->setText(locale.toString(now.date(), QLocale::ShortFormat));
    if (m_time)
        m_time->setText(locale.toString(now.time(), hoursAndMinutes(locale)));
}
