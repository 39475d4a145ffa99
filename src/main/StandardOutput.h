#pragma once

// Standard output takes bytes as they are written: CSV ends its rows in
// CR LF itself, which a C runtime in text mode (Windows) would make CR CR LF.
// One implementation per system.
void writeStandardOutputAsBytes();
