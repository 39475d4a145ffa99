#pragma once

// Characters as X keysyms and back.
namespace Keysyms {

// The X keysym that stands for a character: Latin-1 keysyms equal the code
// point, everything else uses the Unicode keysym range.
unsigned long keysymFor(char32_t character);

// The character a keysym produces when typed, 0 for keys that type none
// (function keys, the keypad, dead keys) or that we do not know.
char32_t characterOf(unsigned long keysym);

} // namespace Keysyms
