#include "ParityMarks.h"

QByteArray ParityMarks::decode(const QByteArray& raw, QList<qsizetype>* damaged) {
    const QByteArray in = m_pending + raw;
    m_pending.clear();
    QByteArray out;
    out.reserve(in.size());
    int i = 0;
    while (i < in.size()) {
        const char c = in[i];
        if (c != '\xff') {
            out += c;
            ++i;
        } else if (i + 1 >= in.size() || (in[i + 1] == '\0' && i + 2 >= in.size())) {
            m_pending = in.mid(i);
            break;
        } else if (in[i + 1] == '\xff') {
            out += '\xff';
            i += 2;
        } else if (in[i + 1] == '\0') {
            if (damaged)
                damaged->append(out.size());
            out += '?';
            i += 3;
        } else {
            out += c; // not a mark: the byte as received
            ++i;
        }
    }
    return out;
}
