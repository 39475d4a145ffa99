#include "Fonts.h"

#include <QStringList>

namespace {
QFont make(const QStringList& families, double points, bool bold, bool italic) {
    QFont f;
    f.setFamilies(families);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}
} // namespace

namespace Fonts {
QFont sans(double points, bool bold) {
    return make(QStringList{"Liberation Sans", "Arial", "DejaVu Sans", "Noto Sans CJK JP"}, points,
                bold, false);
}
QFont serif(double points, bool bold, bool italic) {
    return make(
        QStringList{"Liberation Serif", "Times New Roman", "DejaVu Serif", "Noto Serif CJK JP"},
        points, bold, italic);
}
QFont gothic(double points) {
    return make(QStringList{"Noto Sans CJK JP", "DejaVu Sans"}, points, false, false);
}
QFont gothicMono(double points) {
    QFont f = make(QStringList{"Noto Sans Mono CJK JP", "DejaVu Sans Mono"}, points, false, false);
    f.setStyleHint(QFont::Monospace);
    return f;
}
QFont mincho(double points, bool bold) {
    return make(QStringList{"Noto Serif CJK JP", "DejaVu Serif"}, points, bold, false);
}
} // namespace Fonts
