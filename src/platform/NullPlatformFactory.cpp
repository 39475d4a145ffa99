#include "platform/DesktopPlatform.h"
#include "platform/UnavailablePlatform.h"

// The build for a system without a desktop backend: reading and the log work,
// starting and typing into programs does not.
std::unique_ptr<DesktopPlatform> createDesktopPlatform() {
    return std::make_unique<UnavailablePlatform>(
        QStringLiteral("This build of Parvelo cannot start or type into other programs on "
                       "this system. Reading and the log work."));
}
