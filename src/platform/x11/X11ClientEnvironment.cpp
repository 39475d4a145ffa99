#include "platform/x11/X11ClientEnvironment.h"

namespace {
QString nameOf(const QString& entry) {
    const qsizetype eq = entry.indexOf(QLatin1Char('='));
    return eq < 0 ? entry : entry.left(eq);
}

QString valueOf(const QStringList& environment, const QString& name) {
    for (const QString& entry : environment)
        if (nameOf(entry) == name)
            return entry.mid(name.size() + 1);
    return {};
}
} // namespace

const QStringList& X11ClientEnvironment::overrides() {
    static const QStringList list = {
        QStringLiteral("GDK_BACKEND=x11"),                  // GTK 3 and 4
        QStringLiteral("QT_QPA_PLATFORM=xcb"),              // Qt 5 and 6
        QStringLiteral("SDL_VIDEODRIVER=x11"),              // SDL 2
        QStringLiteral("CLUTTER_BACKEND=x11"),              // Clutter
        QStringLiteral("MOZ_ENABLE_WAYLAND=0"),             // Firefox, Thunderbird
        QStringLiteral("ELECTRON_OZONE_PLATFORM_HINT=x11"), // Electron before 38
        // Chromium and newer Electron pick Wayland by the session type alone,
        // even with the hint above.
        QStringLiteral("XDG_SESSION_TYPE=x11"),
        QStringLiteral("WINIT_UNIX_BACKEND=x11"), // winit (Rust)
    };
    return list;
}

QStringList X11ClientEnvironment::withAccessibility(const QStringList& environment) {
    // Firefox and Qt programs show their text to the accessibility bus only
    // when asked; what the user set stays.
    QStringList out = environment;
    for (const char* entry : {"GNOME_ACCESSIBILITY=1", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1"}) {
        const QString e = QString::fromLatin1(entry);
        if (valueOf(environment, nameOf(e)).isEmpty())
            out << e;
    }
    return out;
}

QStringList X11ClientEnvironment::forTarget(const QStringList& user, bool waylandSession) {
    const QStringList environment = withAccessibility(user);
    if (!waylandSession)
        return environment;
    QStringList names;
    for (const QString& entry : overrides())
        names << nameOf(entry);
    QStringList out;
    for (const QString& entry : environment)
        if (!names.contains(nameOf(entry)))
            out << entry;
    return out + overrides();
}

bool X11ClientEnvironment::isWaylandSession(const QStringList& environment) {
    return !valueOf(environment, QStringLiteral("WAYLAND_DISPLAY")).isEmpty() ||
           valueOf(environment, QStringLiteral("XDG_SESSION_TYPE")).toLower() ==
               QLatin1String("wayland");
}
