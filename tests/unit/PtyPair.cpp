#include "PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
        return;
    // Programs a test starts must not inherit the master: one that did would
    // keep the line up after closeMaster(), and would look like the pty's
    // provider rather than a second reader of it.
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    m_slavePath = QString::fromLocal8Bit(name);
    // Closing our slave fd would not hang up the line, but keeping it means
    // bytes written before the program opens the port are not lost; close it
    // so the program alone owns the slave side.
    ::close(slave);
}

PtyPair::~PtyPair() {
    closeMaster();
}

bool PtyPair::write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QByteArray PtyPair::readAvailable(int waitMs) {
    QByteArray out;
    pollfd p{m_master, POLLIN, 0};
    while (::poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN)) {
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, int(n));
        waitMs = 20;
    }
    return out;
}

void PtyPair::closeMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}
