#pragma once

#include <QRect>
#include <QString>
#include <Qt>
#include <cstdint>
#include <functional>
#include <initializer_list>

class QButtonGroup;
class QDialog;
class QPushButton;
class QSize;
class QWidget;

// What the small fixed dialogs share.
namespace DialogHelpers {
// Title bar with a close box only, the 9 pt stand-in for Arial, and the
// designed client size in twips. kind: Qt::Dialog or Qt::Tool.
void setUpFrame(QDialog* dialog, const QString& title, int widthTwips, int heightTwips,
                Qt::WindowType kind = Qt::Dialog);
// A push button at its designed place. These dialogs have no default
// button: Enter presses the button that has the focus, and nothing else.
QPushButton* button(QWidget* parent, const char* name, const QString& text, QRect geometry);
// Moves window so that a window of outerSize is centred on the primary screen.
void centreOnScreen(QWidget* window, QSize outerSize);
// Calls handler with the index of the option button that becomes selected,
// by a click, the keyboard or from code alike, as a control array's click
// handler is called.
void onOptionSelected(QButtonGroup* group, const std::function<void(std::int16_t)>& handler);
// Sets the Tab order to follow the list.
void setTabChain(std::initializer_list<QWidget*> chain);
// Esc does nothing in dialog: it has no cancel button, so Esc must not
// discard what the user chose.
void keepOpenOnEscape(QDialog* dialog);
} // namespace DialogHelpers
