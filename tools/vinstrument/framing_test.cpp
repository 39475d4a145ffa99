// Checks what the virtual instrument puts on the line: the framing of each
// line end, the number of lines, the shape of each kind's readings, pacing,
// the wait for the reader, garbage bytes, encodings, the balance's answers to
// requests and the summary. Reads the pty the way a serial port reader would.
//
//   framing_test PATH/TO/vinstrument

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string g_bin;
int g_failures = 0;

#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            ++g_failures;                                                                          \
            std::fprintf(stderr, "FAIL %s:%d: %s: ", __FILE__, __LINE__, #cond);                   \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fprintf(stderr, "\n");                                                            \
        }                                                                                          \
    } while (0)

int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

struct Child {
    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
    std::string slave;
};

Child start(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe(out) < 0 || pipe(err) < 0)
        std::abort();
    Child c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        std::vector<char*> av;
        av.push_back(const_cast<char*>(g_bin.c_str()));
        // Unless a test is about it, send only once the reader is there.
        std::vector<std::string> extra;
        if (std::find(args.begin(), args.end(), "--wait-open") == args.end() &&
            std::find(args.begin(), args.end(), "--wait-signal") == args.end())
            extra = {"--wait-open", "--open-delay", "0"};
        for (auto& a : extra)
            args.push_back(a);
        for (auto& a : args)
            av.push_back(const_cast<char*>(a.c_str()));
        av.push_back(nullptr);
        execv(g_bin.c_str(), av.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    c.outFd = out[0];
    c.errFd = err[0];
    // First line of stdout: the slave path.
    char ch;
    while (read(c.outFd, &ch, 1) == 1 && ch != '\n')
        c.slave.push_back(ch);
    return c;
}

std::string readAll(int fd) {
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, size_t(n));
    return s;
}

struct Finish {
    int status = -1;
    double cpuSec = 0;
    std::string err;
};

Finish finish(Child& c) {
    Finish f;
    f.err = readAll(c.errFd);
    rusage ru{};
    wait4(c.pid, &f.status, 0, &ru);
    f.cpuSec = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
               double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    close(c.outFd);
    close(c.errFd);
    return f;
}

struct Chunk {
    int64_t t;
    std::string bytes;
};

// Reads the slave until the instrument hangs up (EIO / POLLHUP).
std::vector<Chunk> readSlave(const std::string& path, int timeoutMs = 10000) {
    std::vector<Chunk> got;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(path.c_str());
        return got;
    }
    int64_t limit = nowNs() + int64_t(timeoutMs) * 1000000;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        int left = int((limit - nowNs()) / 1000000);
        if (left <= 0)
            break;
        if (poll(&p, 1, left) <= 0)
            break;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.push_back({nowNs(), std::string(buf, size_t(n))});
    }
    close(fd);
    return got;
}

std::string joined(const std::vector<Chunk>& cs) {
    std::string s;
    for (auto& c : cs)
        s += c.bytes;
    return s;
}

std::vector<std::string> splitOn(const std::string& s, const std::string& sep) {
    std::vector<std::string> parts;
    size_t pos = 0, at;
    while ((at = s.find(sep, pos)) != std::string::npos) {
        parts.push_back(s.substr(pos, at - pos));
        pos = at + sep.size();
    }
    CHECK(pos == s.size(), "bytes after the last line end: %zu", s.size() - pos);
    return parts;
}

void testCounterCrlf() {
    Child c = start({"--kind", "counter", "--ending", "crlf", "--count", "5"});
    std::string got = joined(readSlave(c.slave));
    Finish f = finish(c);
    CHECK(got == "000001\r\n000002\r\n000003\r\n000004\r\n000005\r\n", "got [%s]", got.c_str());
    CHECK(WIFEXITED(f.status) && WEXITSTATUS(f.status) == 0, "status %d", f.status);
    CHECK(f.err.find("sent 5 lines, 40 bytes") != std::string::npos, "summary [%s]", f.err.c_str());
}

void testThermometerCr() {
    Child c = start({"--kind", "thermometer", "--ending", "cr", "--count", "7"});
    std::string got = joined(readSlave(c.slave));
    finish(c);
    CHECK(got.find('\n') == std::string::npos, "an LF with --ending cr");
    auto lines = splitOn(got, "\r");
    CHECK(lines.size() == 7, "%zu lines", lines.size());
    // UTF-8 degree sign: C2 B0.
    std::regex re("-?[0-9]+\\.[0-9] \xC2\xB0"
                  "C");
    for (auto& l : lines)
        CHECK(std::regex_match(l, re), "reading [%s]", l.c_str());
}

void testBalance() {
    Child c = start({"--kind", "balance", "--count", "30", "--seed", "7"});
    std::string got = joined(readSlave(c.slave));
    finish(c);
    auto lines = splitOn(got, "\r\n");
    CHECK(lines.size() == 30, "%zu lines", lines.size());
    std::regex re("[+-][0-9]{4}\\.[0-9]{3} g");
    size_t distinct = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        CHECK(std::regex_match(lines[i], re), "reading [%s]", lines[i].c_str());
        if (i && lines[i] != lines[i - 1])
            ++distinct;
    }
    CHECK(distinct >= 20, "readings barely vary: %zu changes", distinct);
    // Same seed, same readings: runs can be repeated.
    Child d = start({"--kind", "balance", "--count", "30", "--seed", "7"});
    std::string again = joined(readSlave(d.slave));
    finish(d);
    CHECK(again == got, "seeded runs differ");
}

void testLateLf() {
    Child c =
        start({"--kind", "counter", "--ending", "late-lf", "--lf-delay", "150", "--count", "3"});
    auto chunks = readSlave(c.slave);
    finish(c);
    CHECK(joined(chunks) == "000001\r\n000002\r\n000003\r\n", "got [%s]", joined(chunks).c_str());
    // Each LF must come on its own, well after its CR.
    int64_t crAt = -1;
    int lateLfs = 0;
    for (auto& ch : chunks) {
        for (char b : ch.bytes) {
            if (b == '\r')
                crAt = ch.t;
            if (b == '\n' && crAt >= 0) {
                int64_t gap = ch.t - crAt;
                CHECK(gap >= 100000000, "LF only %lld ms after its CR", (long long)(gap / 1000000));
                if (gap >= 100000000)
                    ++lateLfs;
            }
        }
    }
    CHECK(lateLfs == 3, "%d late LFs", lateLfs);
}

void testTextFile() {
    char tmpl[] = "/tmp/vinstrument-test-XXXXXX";
    int fd = mkstemp(tmpl);
    const char text[] = "first + % ^ ~\nsecond \xC2\xB5g\r\n\nlast (x)\n";
    if (write(fd, text, sizeof text - 1) < 0)
        std::abort();
    close(fd);
    Child c = start({"--kind", "text", tmpl, "--ending", "crlf"});
    std::string got = joined(readSlave(c.slave));
    finish(c);
    CHECK(got == "first + % ^ ~\r\nsecond \xC2\xB5g\r\n\r\nlast (x)\r\n", "got [%s]", got.c_str());
    // With a count, the file repeats.
    Child d = start({"--kind", "text", tmpl, "--count", "6", "--ending", "cr"});
    std::string rep = joined(readSlave(d.slave));
    finish(d);
    CHECK(rep == "first + % ^ ~\rsecond \xC2\xB5g\r\rlast (x)\rfirst + % ^ ~\rsecond \xC2\xB5g\r",
          "got [%s]", rep.c_str());
    // In code page 437, micro is 0xE6.
    Child e = start({"--kind", "text", tmpl, "--count", "2", "--encoding", "cp437"});
    std::string cp = joined(readSlave(e.slave));
    finish(e);
    CHECK(cp == "first + % ^ ~\r\nsecond \xE6g\r\n", "got [%s]", cp.c_str());
    unlink(tmpl);
}

void testScale() {
    Child c = start({"--kind", "scale", "--settle", "1", "--count", "5"});
    int fd = open(c.slave.c_str(), O_RDWR | O_NOCTTY);
    auto ask = [&](const char* request) {
        if (write(fd, request, std::strlen(request)) < 0)
            std::abort();
        std::string got;
        pollfd p{fd, POLLIN, 0};
        char ch;
        while (got.size() < 2 || got.compare(got.size() - 2, 2, "\r\n") != 0) {
            if (poll(&p, 1, 2000) <= 0 || read(fd, &ch, 1) != 1)
                break;
            got.push_back(ch);
        }
        return got;
    };
    // One unstable answer, then the stable one, which SI shows without
    // using it up; then the next, heavier load settles. Any line end will do.
    std::string a = ask("S\r");
    CHECK(a == "S D      99.53 g\r\n", "S: [%s]", a.c_str());
    a = ask("SI\n");
    CHECK(a == "S S     100.00 g\r\n", "SI: [%s]", a.c_str());
    a = ask("S\r\n");
    CHECK(a == "S S     100.00 g\r\n", "S: [%s]", a.c_str());
    a = ask("S\n");
    CHECK(a == "S D     100.53 g\r\n", "S: [%s]", a.c_str());
    a = ask("X\r\n");
    CHECK(a == "ES\r\n", "unknown: [%s]", a.c_str());
    close(fd);
    Finish f = finish(c);
    CHECK(WIFEXITED(f.status) && WEXITSTATUS(f.status) == 0, "status %d", f.status);
    CHECK(f.err.find("sent 5 lines") != std::string::npos, "summary [%s]", f.err.c_str());
}

void testPacing() {
    // 20 lines at 20 lines/s: the last is due 0.95 s after the first.
    Child c = start({"--kind", "counter", "--rate", "20", "--count", "20"});
    auto chunks = readSlave(c.slave);
    Finish f = finish(c);
    CHECK(joined(chunks).size() == 160, "%zu bytes", joined(chunks).size());
    if (!chunks.empty()) {
        double span = double(chunks.back().t - chunks.front().t) / 1e9;
        CHECK(span > 0.85 && span < 1.5, "20 lines at 20/s took %.3f s", span);
    }
    // Sleeping, not spinning: well under a tenth of the run in CPU.
    CHECK(f.cpuSec < 0.1, "used %.3f s of CPU in about 1 s", f.cpuSec);

    // 200 bytes at 2400 bit/s: 0.83 s.
    Child d = start({"--kind", "counter", "--baud", "2400", "--count", "25"});
    auto bc = readSlave(d.slave);
    Finish g = finish(d);
    CHECK(joined(bc).size() == 200, "%zu bytes", joined(bc).size());
    if (!bc.empty()) {
        double span = double(bc.back().t - bc.front().t) / 1e9;
        CHECK(span > 0.7 && span < 1.3, "200 bytes at 2400 bit/s took %.3f s", span);
        // Paced by the byte, not by the line: many small chunks arrive.
        CHECK(bc.size() > 50, "only %zu chunks", bc.size());
    }
    CHECK(g.cpuSec < 0.2, "used %.3f s of CPU", g.cpuSec);
}

void testBurst() {
    // Bursts of 5 at 10 lines/s on average: 5 lines together, then 0.5 s.
    Child c = start({"--kind", "counter", "--rate", "10", "--burst", "5", "--count", "10"});
    auto chunks = readSlave(c.slave);
    finish(c);
    CHECK(joined(chunks).size() == 80, "%zu bytes", joined(chunks).size());
    int64_t biggestGap = 0, firstAt = chunks.empty() ? 0 : chunks.front().t;
    size_t bytesInFirst100ms = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i)
            biggestGap = std::max(biggestGap, chunks[i].t - chunks[i - 1].t);
        if (chunks[i].t - firstAt < 100000000)
            bytesInFirst100ms += chunks[i].bytes.size();
    }
    CHECK(bytesInFirst100ms == 40, "%zu bytes in the first burst", bytesInFirst100ms);
    CHECK(biggestGap > 400000000, "largest gap %lld ms", (long long)(biggestGap / 1000000));
}

void testWaitOpen() {
    Child c = start({"--kind", "counter", "--count", "3", "--wait-open", "--open-delay", "50"});
    // Nothing may be lost while no one listens.
    usleep(400000);
    std::string got = joined(readSlave(c.slave));
    finish(c);
    CHECK(got == "000001\r\n000002\r\n000003\r\n", "got [%s]", got.c_str());
}

void testGarbage() {
    char tmpl[] = "/tmp/vinstrument-sent-XXXXXX";
    close(mkstemp(tmpl));
    Child c =
        start({"--kind", "counter", "--count", "50", "--garbage", "0.3", "--sent-file", tmpl});
    std::string got = joined(readSlave(c.slave));
    Finish f = finish(c);
    auto lines = splitOn(got, "\r\n");
    CHECK(lines.size() == 50, "%zu lines", lines.size());
    // Every line is six digits plus what was slipped in.
    size_t junk = 0, nonDigits = 0;
    for (auto& l : lines) {
        junk += l.size() - 6;
        for (unsigned char b : l)
            nonDigits += !(b >= '0' && b <= '9');
    }
    CHECK(junk > 30 && junk < 200, "%zu garbage bytes at p=0.3", junk);
    CHECK(nonDigits > junk / 2, "garbage looks like data: %zu of %zu", nonDigits, junk);
    std::ifstream in(tmpl, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string sentLog = ss.str(), expect;
    for (auto& l : lines)
        expect += l + "\n";
    CHECK(sentLog == expect, "--sent-file differs from what arrived");
    char want[64];
    std::snprintf(want, sizeof want, "(%zu garbage)", junk);
    CHECK(f.err.find(want) != std::string::npos, "summary [%s], want %s", f.err.c_str(), want);
    unlink(tmpl);
}

void testHoldAndTerm() {
    char tmpl[] = "/tmp/vinstrument-path-XXXXXX";
    close(mkstemp(tmpl));
    Child c = start({"--kind", "counter", "--count", "2", "--hold", "--path-file", tmpl});
    std::ifstream in(tmpl);
    std::string fromFile;
    std::getline(in, fromFile);
    CHECK(fromFile == c.slave, "path file [%s] vs stdout [%s]", fromFile.c_str(), c.slave.c_str());
    // With --hold the line stays up: after the data, no hang-up for 300 ms.
    auto chunks = readSlave(c.slave, 300);
    CHECK(joined(chunks) == "000001\r\n000002\r\n", "got [%s]", joined(chunks).c_str());
    int status = 0;
    CHECK(waitpid(c.pid, &status, WNOHANG) == 0, "exited despite --hold");
    int64_t t = nowNs();
    kill(c.pid, SIGTERM);
    Finish f = finish(c);
    CHECK(nowNs() - t < 1000000000LL, "slow to end on SIGTERM");
    CHECK(WIFEXITED(f.status) && WEXITSTATUS(f.status) == 0, "status %d", f.status);
    CHECK(f.err.find("sent 2 lines") != std::string::npos, "summary [%s]", f.err.c_str());
    unlink(tmpl);
}

void testWaitSignal() {
    Child c = start({"--kind", "counter", "--count", "1", "--wait-signal"});
    int fd = open(c.slave.c_str(), O_RDWR | O_NOCTTY);
    pollfd p{fd, POLLIN, 0};
    CHECK(poll(&p, 1, 300) == 0, "data before SIGUSR1");
    kill(c.pid, SIGUSR1);
    std::string got;
    char buf[64];
    while (got.size() < 8 && poll(&p, 1, 2000) > 0) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, size_t(n));
    }
    close(fd);
    finish(c);
    CHECK(got == "000001\r\n", "got [%s]", got.c_str());
}

void testDropUnread() {
    // 10 lines/s, nobody listening for the first ~0.5 s: those are lost,
    // the rest arrive in order.
    Child c = start(
        {"--kind", "counter", "--rate", "10", "--count", "15", "--drop-unread", "--wait-signal"});
    kill(c.pid, SIGUSR1);
    usleep(520000);
    std::string got = joined(readSlave(c.slave));
    Finish f = finish(c);
    auto lines = splitOn(got, "\r\n");
    CHECK(lines.size() >= 7 && lines.size() <= 11, "%zu lines arrived", lines.size());
    CHECK(!lines.empty() && lines.back() == "000015", "last [%s]",
          lines.empty() ? "" : lines.back().c_str());
    CHECK(!lines.empty() && lines.front() != "000001", "the first line was not dropped");
    for (size_t i = 1; i < lines.size(); ++i)
        CHECK(std::atoi(lines[i].c_str()) == std::atoi(lines[i - 1].c_str()) + 1, "gap at [%s]",
              lines[i].c_str());
    char want[64];
    std::snprintf(want, sizeof want, "%zu lines dropped unread", 15 - lines.size());
    CHECK(f.err.find(want) != std::string::npos, "summary [%s], want %s", f.err.c_str(), want);
}

void testBadOption() {
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        dup2(null, 1);
        execl(g_bin.c_str(), g_bin.c_str(), "--ending", "lf", (char*)nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 2, "bad option gave status %d", status);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PATH/TO/vinstrument\n", argv[0]);
        return 2;
    }
    g_bin = argv[1];
    struct {
        const char* name;
        void (*fn)();
    } tests[] = {
        {"counter crlf", testCounterCrlf},
        {"thermometer cr", testThermometerCr},
        {"balance", testBalance},
        {"late lf", testLateLf},
        {"text file", testTextFile},
        {"scale", testScale},
        {"pacing", testPacing},
        {"burst", testBurst},
        {"wait open", testWaitOpen},
        {"garbage", testGarbage},
        {"hold and SIGTERM", testHoldAndTerm},
        {"wait signal", testWaitSignal},
        {"drop unread", testDropUnread},
        {"bad option", testBadOption},
    };
    for (auto& t : tests) {
        int before = g_failures;
        t.fn();
        std::printf("%s %s\n", g_failures == before ? "ok  " : "FAIL", t.name);
    }
    std::printf("%d failure(s)\n", g_failures);
    return g_failures ? 1 : 0;
}
