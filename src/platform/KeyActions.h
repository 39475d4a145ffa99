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

} // namespace KeyActions
