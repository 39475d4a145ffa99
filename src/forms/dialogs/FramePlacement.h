#pragma once

#include <QRect>

class QGroupBox;
class QWidget;

// Puts a control into a frame at its designed place, moved and widened just
// enough that the stand-in font's caption is not cut off: never into the
// frame's title, never past its right edge, never onto the next control.
// rightLimit is where the next control on the same row begins (pixels, in
// frame coordinates); 0 means the frame's inner edge.
void placeInFrame(QWidget* control, QGroupBox* frame, QRect designed, int rightLimit = 0);
