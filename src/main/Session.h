#pragma once

#include <string>
#include <vector>

class QWidget;

// How the program takes its place in the user's session; one implementation
// per system.
namespace Session {
// The arguments QApplication gets (argv with what this system adds). They
// point into argv or into storage that lives as long as the program.
std::vector<char*> qtArguments(int argc, char** argv);
// Why the program cannot show a window here (no display, or one that
// cannot be opened), in words for the user; empty when it can. Asked before
// the window system is touched, whose own message would only confuse.
std::string displayProblem();
// Closes window the orderly way (settings saved, port closed, nothing
// half-typed afterwards) when the session ends or the program is told to
// stop.
void closeWhenEnding(QWidget& window);
} // namespace Session
