#include "FramePlacement.h"

#include <QGroupBox>

void placeInFrame(QWidget* control, QGroupBox* frame, QRect designed, int rightLimit) {
    frame->ensurePolished();
    control->ensurePolished();
    const QRect inner = frame->contentsRect();
    const QSize hint = control->sizeHint();
    const int right = rightLimit > 0 ? rightLimit : inner.right() + 1;
    QRect r = designed;
    r.setWidth(qMax(r.width(), qMin(hint.width(), right - r.left())));
    r.setHeight(qMax(r.height(), hint.height()));
    // Where the frame's caption takes more room than the design's did, the
    // row moves down, centred in what remains.
    if (r.top() < inner.top())
        r.moveTop(inner.top() + qMax(0, (inner.height() - r.height()) / 2));
    control->setGeometry(r);
}
