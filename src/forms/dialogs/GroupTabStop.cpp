#include "GroupTabStop.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QFocusEvent>

GroupTabStop::GroupTabStop(QButtonGroup* group) : QObject(group), m_group(group) {
    for (QAbstractButton* b : group->buttons())
        b->installEventFilter(this);
}

bool GroupTabStop::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::FocusIn)
        return false;
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason)
        return false;
    QAbstractButton* checked = m_group->checkedButton();
    if (checked && checked != watched && checked->isEnabled() && checked->isVisible())
        checked->setFocus(reason);
    return false;
}
