#include "platform/KeyActions.h"

#include <QList>

namespace {
bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f);
}
} // namespace

std::vector<KeyAction> KeyActions::fromText(const QString& text, std::vector<int>* ends) {
    std::vector<KeyAction> actions;
    actions.reserve(text.size());
    const QList<uint> ucs = text.toUcs4();
    int end = 0; // in QChars: toUcs4() gives one code point per QChar or pair
    const auto lengthOf = [](char32_t c) { return c > 0xffff ? 2 : 1; };
    for (qsizetype i = 0; i < ucs.size(); ++i) {
        const char32_t c = ucs[i];
        end += lengthOf(c);
        if (c == '\t') {
            actions.push_back({KeyAction::Tab, 0});
        } else if (c == '\r') {
            if (i + 1 < ucs.size() && ucs[i + 1] == '\n') {
                ++i;
                ++end;
            }
            actions.push_back({KeyAction::Return, 0});
        } else if (c == KeyActions::DownMark) {
            actions.push_back({KeyAction::Down, 0});
        } else if (c == KeyActions::RightMark) {
            actions.push_back({KeyAction::Right, 0});
        } else if (c == KeyActions::DeleteMark) {
            actions.push_back({KeyAction::Delete, 0});
        } else if (isControl(c) || (c >= 0xd800 && c <= 0xdfff) || c > 0x10ffff) {
            // toUcs4() turns an unpaired surrogate into U+FFFD already; the
            // range check keeps that true for any other source of text.
            continue;
        } else {
            actions.push_back({KeyAction::Character, c});
        }
        if (ends)
            ends->push_back(end);
    }
    return actions;
}
