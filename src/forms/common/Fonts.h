#pragma once

// The common folder: what every window and dialog shares (fonts, twips, warning
// boxes, file filters, dialog helpers). It includes base/ and Qt Widgets.

#include <QFont>

// Installed stand-ins for the faces the layout was designed with.
namespace Fonts {
QFont sans(double points, bool bold = false);                       // Arial
QFont serif(double points, bool bold = false, bool italic = false); // Times New Roman
QFont gothic(double points);                                        // Japanese sans, proportional
QFont gothicMono(double points);                                    // Japanese sans, fixed pitch
QFont mincho(double points, bool bold = false);                     // Japanese serif, proportional
} // namespace Fonts
