#pragma once

#include <optional>

// The journal commands, which need no display:
//   parvelo --check-journal FILE...          each file intact or where it breaks
//   parvelo --export-journal FILE... [--run N]  the readings as CSV on stdout
// The exit status when argv asks for one of them, else nullopt.
std::optional<int> runJournalCommand(int argc, char** argv);
