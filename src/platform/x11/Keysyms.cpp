#include "platform/x11/Keysyms.h"

unsigned long Keysyms::keysymFor(char32_t c) {
    if ((c >= 0x20 && c <= 0x7e) || (c >= 0xa0 && c <= 0xff))
        return c;
    return 0x01000000UL | c;
}

char32_t Keysyms::characterOf(unsigned long keysym) {
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return char32_t(keysym);
    if (keysym >= 0x01000100UL && keysym <= 0x0110ffffUL)
        return char32_t(keysym & 0x1fffff);
    if (keysym == 0x20ac) // EuroSign, as most layouts spell €
        return 0x20ac;
    return 0;
}
