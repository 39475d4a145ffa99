#include "main/StandardOutput.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

void writeStandardOutputAsBytes() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}
