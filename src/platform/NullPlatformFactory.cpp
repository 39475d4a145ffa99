#include "platform/DesktopPlatform.h"
#include "platform/UnavailablePlatform.h"
#include "platform/UnreadableTarget.h"

// The build for a system without a desktop backend: reading and the log work,
// starting and typing into programs does not.
std::unique_ptr<DesktopPlatform> createDesktopPlatform() {
    return std::make_unique<UnavailablePlatform>(
        QStringLiteral("This build of Parvelo cannot start or type into other programs on "
                       "this system. Reading and the log work."));
}

std::unique_ptr<TargetReader> createTargetReader() {
    return std::make_unique<UnreadableTarget>(
        QStringLiteral("this build of Parvelo cannot read other programs back"));
}
