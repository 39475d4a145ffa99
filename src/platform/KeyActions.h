#pragma once

#include <QString>
#include <vector>

// What typing a text means, independent of any window system: the keys to
// send, in order. Only characters and a few plain keys (Tab, Return, Delete,
// two arrows) come out; nothing in the text can turn into a shortcut or a
// key combination.
struct KeyAction {
    enum Kind { Character, Tab, Return, Down, Right, Delete };
    Kind kind = Character;
    char32_t character = 0; // for Character only

    bool operator==(const KeyAction& o) const { return kind == o.kind && character == o.character; }
};

namespace KeyActions {

// The plain keys a text asks for besides Tab and Return: control characters
// (group, record and unit separator) that are never typed as themselves.
// Whoever builds the text keeps them out of received data. Delete drops
// what a spreadsheet proposes to complete the cell with.
constexpr char16_t DeleteMark = 0x1D;
constexpr char16_t DownMark = 0x1E;
constexpr char16_t RightMark = 0x1F;

// TAB -> Tab, CR LF or a lone CR -> Return, DeleteMark, DownMark and
// RightMark -> their keys; a lone LF, other C0 controls,
// DEL, C1 controls and unpaired surrogates are dropped. ends, if given,
// receives for each action the index in text just behind it.
std::vector<KeyAction> fromText(const QString& text, std::vector<int>* ends = nullptr);

} // namespace KeyActions
