#include "platform/DesktopPlatform.h"
#include "platform/UnavailablePlatform.h"
#include "platform/x11/X11ClientEnvironment.h"
#include "platform/x11/X11Platform.h"

#include <QProcessEnvironment>

std::unique_ptr<DesktopPlatform> createDesktopPlatform() {
    const bool wayland = X11ClientEnvironment::isWaylandSession(
        QProcessEnvironment::systemEnvironment().toStringList());
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) {
        return std::make_unique<UnavailablePlatform>(
            wayland ? QStringLiteral("This is a Wayland session without X11 support (no "
                                     "DISPLAY): Parvelo cannot type into other programs here. "
                                     "Reading and the log work; to type into a program, log in "
                                     "to an X11 session or enable XWayland.")
                    : QStringLiteral("No X display (DISPLAY is not set): Parvelo cannot start "
                                     "or type into other programs. Reading and the log work."));
    }
    auto connection = std::make_unique<X11Connection>(display);
    if (!connection->isOpen())
        return std::make_unique<UnavailablePlatform>(
            QStringLiteral("The X display %1 cannot be opened: Parvelo cannot type into other "
                           "programs. Reading and the log work.")
                .arg(display));
    if (!connection->hasXTest())
        return std::make_unique<UnavailablePlatform>(
            QStringLiteral("The X server on %1 has no XTest extension: Parvelo cannot type into "
                           "other programs. Reading and the log work.")
                .arg(display));
    // On a Wayland desktop with XWayland, the targets Parvelo starts run as
    // X11 clients (see X11ClientEnvironment): nothing to warn about.
    return std::make_unique<X11Platform>(std::move(connection), wayland);
}
