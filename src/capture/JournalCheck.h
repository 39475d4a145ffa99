#pragma once

#include <QString>

// Checks a journal day file: every record is read, and each hash must follow
// from the record and the one before it (JournalChain). The day before is
// taken from the same folder, so a folder's files check as one chain.
struct JournalCheck {
    QString path;
    bool intact = false;
    int records = 0;
    // Where the chain breaks (0: the file as a whole) and why.
    int brokenLine = 0;
    QString why;
    // What the check could not cover although the file is intact.
    QString note;

    static JournalCheck of(const QString& path);
    // One line for a person: "FILE: intact (N records)" or
    // "FILE: line N: why".
    QString summary() const;
};
