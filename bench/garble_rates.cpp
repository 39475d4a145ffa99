// How well GarbleCheck tells noise from text: for each encoding and line
// length, the share of lines of random bytes (no CR or LF) that it would
// still type. Prints what it measured; the README quotes it.
#include "capture/GarbleCheck.h"

#include <QRandomGenerator>
#include <cstdio>

int main() {
    const struct {
        Encoding encoding;
        const char* name;
    } encodings[] = {{Encoding::Utf8, "UTF-8"},
                     {Encoding::Latin1, "Latin-1"},
                     {Encoding::Cp437, "CP437"},
                     {Encoding::ShiftJis, "Shift-JIS"}};
    const int lengths[] = {8, 16, 24, 32, 48, 64, 128, 255};
    constexpr int Lines = 20000;
    QRandomGenerator random(1);
    std::printf("random lines typed, of %d per cell\n%-10s", Lines, "length");
    for (int length : lengths)
        std::printf("%9d", length);
    std::printf("\n");
    for (const auto& e : encodings) {
        std::printf("%-10s", e.name);
        for (int length : lengths) {
            int typed = 0;
            for (int i = 0; i < Lines; ++i) {
                QByteArray raw(length, Qt::Uninitialized);
                for (char& b : raw) {
                    do
                        b = char(random.bounded(256));
                    while (b == '\r' || b == '\n');
                }
                if (!GarbleCheck::garbled(raw, LineText::decode(raw, e.encoding), e.encoding))
                    ++typed;
            }
            std::printf("%8.3f%%", 100.0 * typed / Lines);
        }
        std::printf("\n");
    }
    return 0;
}
