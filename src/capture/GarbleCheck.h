#pragma once

#include "LineText.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Tells a line of text from the noise a wrong speed, data-bit or parity
// setting produces, so that noise is not typed into the target. A line is
// judged by its characters: clean text (printable ASCII and TAB), foreign
// characters (printable, not ASCII) and broken ones (control characters,
// bytes not valid in the encoding, U+FFFD, private-use and unassigned code
// points, characters the port marked as received with a parity error). Control characters at the very start and end
// are framing (STX, ETX, ACK, NUL padding) and are not judged.
//
// Each broken character weighs BrokenWeight. A foreign character of one byte,
// which any random byte may give, weighs 2 in Latin-1 and CP437 and 1 in
// Shift-JIS (half-width katakana, which spell whole words); a character of
// several valid bytes (UTF-8, Shift-JIS kanji) is good evidence of text and
// weighs nothing. A line is garbled when the weight reaches MinWeight and
// exceeds the number of clean characters: at least two broken characters
// (or three accented letters, six half-width katakana) in a line that is
// more noise than text. A reading with a few accented letters, symbols or
// Japanese characters is never refused.
class GarbleCheck {
public:
    static constexpr int BrokenWeight = 3;
    static constexpr int MinWeight = 6;

    struct Counts {
        int clean = 0;
        int foreign = 0;
        int oneByte = 0; // of the foreign ones, those one byte long
        int broken = 0;
    };

    // raw: the line's bytes; text: the same bytes decoded with encoding;
    // marked: characters of the line that the port received damaged.
    static Counts count(const QByteArray& raw, const QString& text, Encoding encoding,
                        int marked = 0);
    // Why the line is not typed, or nullopt when it is text.
    static std::optional<QString> garbled(const QByteArray& raw, const QString& text,
                                          Encoding encoding, int marked = 0);
};
