#pragma once

#include <QString>
#include <vector>

// What typing a text means, independent of any window system: the keys to
// send, in order. Only characters and the Tab and Return keys come out;
// nothing in the text can turn into a shortcut or a key combination.
struct KeyAction {
    enum Kind { Character, Tab, Return };
    Kind kind = Character;
    char32_t character = 0; // for Character only

    bool operator==(const KeyAction& o) const { return kind == o.kind && character == o.character; }
};

namespace KeyActions {

// TAB -> Tab, CR LF or a lone CR -> Return; a lone LF, other C0 controls,
// DEL, C1 controls and unpaired surrogates are dropped. ends, if given,
// receives for each action the index in text just behind it.
std::vector<KeyAction> fromText(const QString& text, std::vector<int>* ends = nullptr);

// The X keysym that stands for a character: Latin-1 keysyms equal the code
// point, everything else uses the Unicode keysym range.
unsigned long keysymFor(char32_t character);

// The character a keysym produces when typed, 0 for keys that type none
// (function keys, the keypad, dead keys) or that we do not know.
char32_t characterOf(unsigned long keysym);

} // namespace KeyActions
