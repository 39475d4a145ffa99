#pragma once

#include <QString>

// Who runs the program and where, as the system names them, for the
// journal's record of each run. One implementation per system: posix/, win/.
namespace Workstation {
// The operating-system user's login name; empty when the system has none.
QString userName();
// The computer's name on the network.
QString computerName();
} // namespace Workstation
