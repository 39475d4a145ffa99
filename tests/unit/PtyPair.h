#pragma once

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair standing in for a serial line: the program opens
// slavePath(); the test writes to and reads from the master side.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }
    bool write(const QByteArray& bytes);
    QByteArray readAvailable(int waitMs = 200);
    // Hangs up: the reader sees the other end go away.
    void closeMaster();

private:
    int m_master = -1;
    int m_slaveKeeper = -1;
    QString m_slavePath;
};
