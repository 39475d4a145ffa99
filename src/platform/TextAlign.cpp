#include "TextAlign.h"

std::vector<TextAlign::Found> TextAlign::align(const QString& before,
                                               const std::vector<QString>& pieces) {
    std::vector<Found> out(pieces.size());
    qsizetype pos = 0;
    std::size_t missingFrom = 0; // first piece not found since the last found
    const auto fillMissing = [&](std::size_t upTo, qsizetype end) {
        for (std::size_t m = missingFrom; m < upTo; ++m)
            out[m].instead = before.mid(pos, end - pos);
    };
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const qsizetype at = pieces[i].isEmpty() ? pos : before.indexOf(pieces[i], pos);
        if (at < 0)
            continue;
        fillMissing(i, at);
        out[i].found = true;
        out[i].at = at;
        pos = at + pieces[i].size();
        missingFrom = i + 1;
    }
    fillMissing(pieces.size(), before.size());
    return out;
}

std::size_t TextAlign::settled(const std::vector<Found>& found) {
    std::size_t n = found.size();
    while (n > 0 && !found[n - 1].found)
        --n;
    return n;
}

bool TextAlign::whole(const QString& before, const std::vector<QString>& pieces) {
    QString all;
    for (const QString& p : pieces)
        all += p;
    return all == before;
}
