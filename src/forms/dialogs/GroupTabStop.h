#pragma once

#include <QObject>

class QButtonGroup;

// Makes a group of option buttons one Tab stop that lands on the selected
// button. Qt already skips the rest of the group when leaving it, but enters
// it at whichever button comes first in the tab chain.
class GroupTabStop : public QObject {
public:
    explicit GroupTabStop(QButtonGroup* group);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QButtonGroup* m_group;
};
