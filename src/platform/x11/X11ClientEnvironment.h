#pragma once

#include <QStringList>

// On a Wayland desktop, XTest reaches only programs that run as X11 clients
// (under XWayland). Software Execution starts its target with these
// variables added to the user's environment, so that the common toolkits
// choose their X11 back end; everything else is passed on unchanged.
namespace X11ClientEnvironment {

// name=value pairs that select X11: GTK, Qt, SDL, Clutter, Firefox,
// Chromium, Electron and winit. LibreOffice follows them through its gtk3
// and kf5 plugins; its gen plugin is X11 anyway. The session type says
// x11 too: it is what the target is, and Chromium reads nothing else.
const QStringList& overrides();

// environment ("NAME=value" entries) with what makes a program readable
// through the accessibility bus (Firefox, Qt), unless set already.
QStringList withAccessibility(const QStringList& environment);

// environment for a program started on this desktop: withAccessibility(),
// and on a Wayland session with overrides() in place.
QStringList forTarget(const QStringList& environment, bool waylandSession);

// True when the session is Wayland (WAYLAND_DISPLAY or XDG_SESSION_TYPE say so).
bool isWaylandSession(const QStringList& environment);

} // namespace X11ClientEnvironment
