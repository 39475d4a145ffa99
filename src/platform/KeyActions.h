#pragma once

#include <QString>
#include <vector>

// What typing a text means, independent of any window system: the keys to
// send, in order. Only characters and the Tab and Return keys come out;
// nothing in the text can turn into a shortcut or a key combination.
struct KeyAction {
    enum Kind { Character, Tab, Return, Down, Right };
    Kind kind = Character;
    char32_t character = 0; // for Character only

    bool operator==(const KeyAction& o) const { return kind == o.kind && character == o.character; }
};

namespace KeyActions {

// The arrow keys a text asks for: two control characters (record and unit
// separator) that are never typed as themselves. Whoever builds the text
// keeps them out of received data.
constexpr char16_t DownMark = 0x1E;
constexpr char16_t RightMark = 0x1F;

// TAB -> Tab, CR LF or a lone CR -> Return, DownMark and RightMark -> the
// arrow keys; a lone LF, other C0 controls,
// DEL, C1 controls and unpaired surrogates are dropped. ends, if given,
// receives for each action the index in text just behind it.
std::vector<KeyAction> fromText(const QString& text, std::vector<int>* ends = nullptr);

} // namespace KeyActions
