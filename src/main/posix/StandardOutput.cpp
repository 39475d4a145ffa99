#include "main/StandardOutput.h"

// POSIX has no text mode: bytes go out as written.
void writeStandardOutputAsBytes() {}
