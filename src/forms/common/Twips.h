#pragma once

#include <QRect>

// Layouts are designed in twips; 15 twips make one pixel at 96 dpi.
constexpr int tw(int twips) {
    return (twips + 7) / 15;
}
inline QRect twRect(int left, int top, int width, int height) {
    return QRect(tw(left), tw(top), tw(width), tw(height));
}
