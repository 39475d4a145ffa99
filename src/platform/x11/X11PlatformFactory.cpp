#include "platform/DesktopPlatform.h"
#include "platform/UnavailablePlatform.h"
#include "platform/x11/X11Platform.h"

namespace {
bool waylandSession() {
    return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qgetenv("XDG_SESSION_TYPE").toLower() == "wayland";
}
} // namespace

std::unique_ptr<DesktopPlatform> createDesktopPlatform() {
    const bool wayland = waylandSession();
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
    QString warning;
    if (wayland)
        warning = QStringLiteral(
            "This is a Wayland session: Parvelo can type only into programs that run under "
            "XWayland (X11 programs, e.g. LibreOffice started with SAL_USE_VCLPLUGIN=gen), "
            "and the compositor may refuse to give them the focus. Programs running natively "
            "on Wayland receive nothing.");
    return std::make_unique<X11Platform>(std::move(connection), warning);
}
