// vinstrument: a virtual RS-232C instrument on a pseudo-terminal.
//
// Opens a pty, puts it in raw mode, prints the slave path on the first line
// of stdout and then sends lines the way balances, thermometers and counters
// do, or answers requests the way a balance does. Tests and benchmarks read
// the slave as if it were a serial port.
//
// Every wait is a sleep or a blocking call: the tool never spins, so it does
// not steal CPU from the program being measured.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <random>
#include <string>
#include <vector>

namespace {

volatile sig_atomic_t g_stop = 0;
volatile sig_atomic_t g_go = 0;

void onTerm(int) {
    g_stop = 1;
}
void onUsr1(int) {
    g_go = 1;
}

void usage(const char* argv0) {
    std::fprintf(
        stderr,
        "usage: %s [options]\n"
        "  --kind balance|thermometer|counter|text|scale  what to send\n"
        "                    (default balance)\n"
        "                    scale: answers requests, \"S\" with \"S D     <value> g\"\n"
        "                    while settling and then \"S S     <value> g\" once, after\n"
        "                    which the next weighing (value + 1) begins; \"SI\" with the\n"
        "                    current value at once; anything else with \"ES\". Requests\n"
        "                    end with CR, LF or CR LF\n"
        "  --settle N        scale: answers \"S D\" to the first N \"S\" of each\n"
        "                    weighing (default 2)\n"
        "  --file F          lines for --kind text (or: --kind text F)\n"
        "  --encoding utf8|latin1|cp437|sjis  how lines are sent (default utf8); ASCII\n"
        "                    stays ASCII, characters the encoding lacks become '?'\n"
        "  --ending crlf|cr|late-lf   line end (default crlf)\n"
        "  --lf-delay MS     delay of the LF for late-lf (default 50)\n"
        "  --rate N          lines per second (default: as fast as possible)\n"
        "  --baud B          pace bytes as B bit/s allows (10 bits a byte)\n"
        "  --count N         lines to send (default: unlimited; text: the file once;\n"
        "                    scale: answers)\n"
        "  --burst K         K lines back to back, then a pause (keeps --rate on average)\n"
        "  --garbage P       probability of a garbage byte before each data byte\n"
        "  --seed S          random seed (default 1)\n"
        "  --wait-open       send only once the other side has opened the slave\n"
        "  --open-delay MS   pause after the open is seen (default 200)\n"
        "  --wait-signal     send only after SIGUSR1\n"
        "  --drop-unread     skip lines while no one has the slave open, as a\n"
        "                    cable with no one at the other end loses them\n"
        "  --hold            keep the pty open after sending until SIGTERM\n"
        "  --path-file F     also write the slave path to F\n"
        "  --sent-file F     write every line sent (as sent, without its end) to F\n"
        "  --log-cr F        write '<CLOCK_MONOTONIC ns> <line no>' after each CR\n",
        argv0);
}

struct Options {
    std::string kind = "balance";
    std::string textFile;
    std::string ending = "crlf";
    std::string encoding = "utf8";
    int settle = 2;
    int lfDelayMs = 50;
    double rate = 0;
    double baud = 0;
    long long count = -1;
    long long burst = 1;
    double garbage = 0;
    unsigned long seed = 1;
    bool waitOpen = false;
    int openDelayMs = 200;
    bool waitSignal = false;
    bool hold = false;
    bool dropUnread = false;
    std::string pathFile;
    std::string sentFile;
    std::string logCr;
};

int64_t nowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// Sleeps until an absolute CLOCK_MONOTONIC time; returns false when a stop
// was asked for meanwhile.
bool sleepUntil(int64_t ns) {
    timespec ts;
    ts.tv_sec = ns / 1000000000LL;
    ts.tv_nsec = ns % 1000000000LL;
    while (!g_stop) {
        int rc = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        if (rc == 0)
            return true;
        if (rc != EINTR)
            return false;
    }
    return false;
}

bool sleepMs(int ms) {
    return sleepUntil(nowNs() + int64_t(ms) * 1000000LL);
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto need = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vinstrument: %s needs a value\n", what);
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--kind") {
            o.kind = need("--kind");
            if (o.kind == "text" && i + 1 < argc && argv[i + 1][0] != '-')
                o.textFile = argv[++i];
        } else if (a == "--file")
            o.textFile = need("--file");
        else if (a == "--ending")
            o.ending = need("--ending");
        else if (a == "--encoding")
            o.encoding = need("--encoding");
        else if (a == "--settle")
            o.settle = std::atoi(need("--settle"));
        else if (a == "--lf-delay")
            o.lfDelayMs = std::atoi(need("--lf-delay"));
        else if (a == "--rate")
            o.rate = std::atof(need("--rate"));
        else if (a == "--baud")
            o.baud = std::atof(need("--baud"));
        else if (a == "--count")
            o.count = std::atoll(need("--count"));
        else if (a == "--burst")
            o.burst = std::atoll(need("--burst"));
        else if (a == "--garbage")
            o.garbage = std::atof(need("--garbage"));
        else if (a == "--seed")
            o.seed = std::strtoul(need("--seed"), nullptr, 10);
        else if (a == "--wait-open")
            o.waitOpen = true;
        else if (a == "--open-delay")
            o.openDelayMs = std::atoi(need("--open-delay"));
        else if (a == "--wait-signal")
            o.waitSignal = true;
        else if (a == "--hold")
            o.hold = true;
        else if (a == "--drop-unread")
            o.dropUnread = true;
        else if (a == "--path-file")
            o.pathFile = need("--path-file");
        else if (a == "--sent-file")
            o.sentFile = need("--sent-file");
        else if (a == "--log-cr")
            o.logCr = need("--log-cr");
        else if (a == "-h" || a == "--help") {
            usage(argv[0]);
            std::exit(0);
        } else {
            std::fprintf(stderr, "vinstrument: unknown option %s\n", a.c_str());
            usage(argv[0]);
            return false;
        }
    }
    if (o.kind != "balance" && o.kind != "thermometer" && o.kind != "counter" && o.kind != "text" &&
        o.kind != "scale") {
        std::fprintf(stderr, "vinstrument: unknown kind %s\n", o.kind.c_str());
        return false;
    }
    if (o.kind == "text" && o.textFile.empty()) {
        std::fprintf(stderr, "vinstrument: --kind text needs a file\n");
        return false;
    }
    if (o.ending != "crlf" && o.ending != "cr" && o.ending != "late-lf") {
        std::fprintf(stderr, "vinstrument: unknown ending %s\n", o.ending.c_str());
        return false;
    }
    if (o.encoding != "utf8" && o.encoding != "latin1" && o.encoding != "cp437" &&
        o.encoding != "sjis") {
        std::fprintf(stderr, "vinstrument: unknown encoding %s\n", o.encoding.c_str());
        return false;
    }
    if (o.settle < 0)
        o.settle = 0;
    if (o.burst < 1)
        o.burst = 1;
    if (o.garbage < 0 || o.garbage > 1) {
        std::fprintf(stderr, "vinstrument: --garbage wants a probability 0..1\n");
        return false;
    }
    return true;
}

// Produces the payload of each line.
class Source {
public:
    Source(const Options& o) : o_(o), rng_(o.seed) {
        if (o.kind == "text") {
            std::ifstream in(o.textFile, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "vinstrument: cannot read %s\n", o.textFile.c_str());
                std::exit(1);
            }
            std::string l;
            while (std::getline(in, l)) {
                while (!l.empty() && (l.back() == '\r' || l.back() == '\n'))
                    l.pop_back();
                lines_.push_back(l);
            }
            if (lines_.empty()) {
                std::fprintf(stderr, "vinstrument: %s has no lines\n", o.textFile.c_str());
                std::exit(1);
            }
        }
    }
    long long naturalCount() const { return o_.kind == "text" ? (long long)lines_.size() : -1; }

    std::string next(long long i) {
        char buf[64];
        if (o_.kind == "balance") {
            // A random walk around a load, so consecutive readings differ and
            // now and then the tare drifts below zero.
            std::normal_distribution<double> step(0.0, 2.0);
            weight_ += step(rng_);
            if (weight_ > 9999.0 || weight_ < -9999.0)
                weight_ = 12.345;
            std::snprintf(buf, sizeof buf, "%+09.3f g", weight_);
            return buf;
        }
        if (o_.kind == "thermometer") {
            std::normal_distribution<double> step(0.0, 0.3);
            temp_ += step(rng_);
            if (temp_ > 80 || temp_ < -30)
                temp_ = 23.5;
            std::snprintf(buf, sizeof buf,
                          "%.1f \xC2\xB0"
                          "C",
                          temp_);
            return buf;
        }
        if (o_.kind == "counter") {
            std::snprintf(buf, sizeof buf, "%06lld", (i + 1) % 1000000);
            return buf;
        }
        return lines_[size_t(i) % lines_.size()];
    }

    // Inserts garbage bytes before data bytes. CR and LF are never produced
    // so that the framing stays as chosen.
    std::string dirty(const std::string& s, long long& garbageCount) {
        if (o_.garbage <= 0)
            return s;
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::uniform_int_distribution<int> pick(0, 3);
        std::uniform_int_distribution<int> byte(0, 255);
        std::string out;
        for (char c : s) {
            if (u(rng_) < o_.garbage) {
                int b;
                switch (pick(rng_)) {
                case 0:
                    b = 0x00;
                    break;
                case 1:
                    b = 0xFF;
                    break;
                case 2:
                    b = 0x1B;
                    break;
                default:
                    do
                        b = byte(rng_);
                    while (b == '\r' || b == '\n');
                }
                out.push_back(char(b));
                ++garbageCount;
            }
            out.push_back(c);
        }
        return out;
    }

private:
    const Options& o_;
    std::mt19937_64 rng_;
    std::vector<std::string> lines_;
    double weight_ = 12.345;
    double temp_ = 23.5;
};

// A balance that answers requests the MT-SICS way. Each weighing settles
// over its first `settle` "S" requests (readings a little under the load),
// is reported stable once, and then the next load, 1 g heavier, goes on.
class Scale {
public:
    explicit Scale(int settle) : settle_(settle) {}

    // The answer to one request (without its line end).
    std::string answer(std::string request) {
        while (!request.empty() && request.back() == ' ')
            request.pop_back();
        if (request == "SI")
            return current();
        if (request != "S")
            return "ES";
        std::string a = current();
        if (++request_ > settle_) {
            request_ = 0;
            ++weighing_;
        }
        return a;
    }

private:
    std::string current() const {
        const bool stable = request_ >= settle_;
        const double load = 100.0 + double(weighing_);
        const double value = stable ? load : load - 0.47 * (settle_ - request_);
        char buf[64];
        std::snprintf(buf, sizeof buf, "S %c %10.2f g", stable ? 'S' : 'D', value);
        return buf;
    }

    int settle_;
    int request_ = 0;
    long long weighing_ = 0;
};

// Turns UTF-8 lines into the bytes an older instrument sends. ASCII stays
// as it is (strict Shift-JIS would make the backslash a yen sign, which such
// instruments do not mean); other characters go through iconv one by one,
// and those the encoding lacks become '?'.
class Encoder {
public:
    explicit Encoder(const std::string& name) : sjis_(name == "sjis") {
        const char* to = name == "latin1"  ? "ISO-8859-1"
                         : name == "cp437" ? "CP437"
                         : sjis_           ? "SHIFT_JIS"
                                           : nullptr;
        if (to && (cd_ = iconv_open(to, "UTF-8")) == iconv_t(-1)) {
            std::perror("vinstrument: iconv_open");
            std::exit(1);
        }
    }
    ~Encoder() {
        if (cd_ != iconv_t(-1))
            iconv_close(cd_);
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    std::string operator()(const std::string& s) const {
        if (cd_ == iconv_t(-1))
            return s;
        std::string out;
        for (size_t i = 0; i < s.size();) {
            const unsigned char b = (unsigned char)s[i];
            if (b < 0x80) {
                out.push_back(char(b));
                ++i;
                continue;
            }
            const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            std::string ch = s.substr(i, len);
            i += len;
            // JIS has no micro sign; Japanese instruments send the Greek mu.
            if (sjis_ && ch == "\xC2\xB5")
                ch = "\xCE\xBC";
            char buf[16];
            char* in = &ch[0];
            size_t inLeft = ch.size();
            char* o = buf;
            size_t oLeft = sizeof buf;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            if (iconv(cd_, &in, &inLeft, &o, &oLeft) == size_t(-1) || inLeft != 0)
                out.push_back('?');
            else
                out.append(buf, size_t(o - buf));
        }
        return out;
    }

private:
    bool sjis_;
    iconv_t cd_ = iconv_t(-1);
};

// Writes bytes to the master, paced by the baud rate when one is given.
class Writer {
public:
    Writer(int fd, double baud) : fd_(fd), baud_(baud) {}

    bool write(const std::string& s) {
        size_t off = 0;
        while (off < s.size()) {
            if (g_stop)
                return false;
            size_t n = s.size() - off;
            if (baud_ > 0) {
                if (t0_ == 0)
                    t0_ = nowNs();
                // Byte k may leave at t0 + k * 10 / baud. Send what is due.
                int64_t elapsed = nowNs() - t0_;
                long long due = (long long)(double(elapsed) * baud_ / 10e9) + 1 - paced_;
                if (due <= 0) {
                    if (!sleepUntil(t0_ + int64_t(double(paced_) * 10e9 / baud_)))
                        return false;
                    continue;
                }
                if ((long long)n > due)
                    n = size_t(due);
            }
            ssize_t w = ::write(fd_, s.data() + off, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("vinstrument: write");
                return false;
            }
            off += size_t(w);
            paced_ += w;
            bytes_ += w;
        }
        return true;
    }
    long long bytes() const { return bytes_; }

private:
    int fd_;
    double baud_;
    int64_t t0_ = 0;
    long long paced_ = 0;
    long long bytes_ = 0;
};

bool slaveIsOpen(int master) {
    // The master reports POLLHUP while no one holds the slave open.
    pollfd p{master, 0, 0};
    int rc = poll(&p, 1, 0);
    return rc == 0 || !(p.revents & POLLHUP);
}

// Bytes written but not yet taken by the reader. Opening the slave for this
// query is harmless: it is only done at the very end.
int pendingInput(const char* slavePath) {
    int fd = open(slavePath, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) < 0)
        n = 0;
    close(fd);
    return n;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o))
        return 2;

    struct sigaction sa {};
    sa.sa_handler = onTerm;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a blocked write or sleep must end on SIGTERM
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    struct sigaction su {};
    su.sa_handler = onUsr1;
    sigemptyset(&su.sa_mask);
    sigaction(SIGUSR1, &su, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) < 0 || unlockpt(master) < 0) {
        std::perror("vinstrument: posix_openpt");
        return 1;
    }
    const char* sp = ptsname(master);
    if (!sp) {
        std::perror("vinstrument: ptsname");
        return 1;
    }
    std::string slavePath = sp;

    // Raw mode on the slave, and one open/close so that the master reports a
    // hang-up until the reader arrives (a pty never opened reports none).
    {
        int s = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        if (s < 0) {
            std::perror("vinstrument: open slave");
            return 1;
        }
        termios t;
        tcgetattr(s, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        tcsetattr(s, TCSANOW, &t);
        close(s);
    }

    // The file first: whoever reads stdout may look at the file at once.
    if (!o.pathFile.empty()) {
        std::string tmp = o.pathFile + ".tmp";
        FILE* f = std::fopen(tmp.c_str(), "w");
        if (!f || std::fprintf(f, "%s\n", slavePath.c_str()) < 0 || std::fclose(f) != 0 ||
            std::rename(tmp.c_str(), o.pathFile.c_str()) != 0) {
            std::perror("vinstrument: --path-file");
            return 1;
        }
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);
    FILE* sent = nullptr;
    if (!o.sentFile.empty() && !(sent = std::fopen(o.sentFile.c_str(), "wb"))) {
        std::perror("vinstrument: --sent-file");
        return 1;
    }
    FILE* crlog = nullptr;
    if (!o.logCr.empty() && !(crlog = std::fopen(o.logCr.c_str(), "w"))) {
        std::perror("vinstrument: --log-cr");
        return 1;
    }

    if (o.waitOpen) {
        // Polling with a short sleep: a pty master gives no event for the
        // slave's open, and POLLHUP cannot be waited away with poll().
        while (!g_stop && !slaveIsOpen(master))
            sleepMs(10);
        if (!g_stop && o.openDelayMs > 0)
            sleepMs(o.openDelayMs);
    }
    if (o.waitSignal) {
        sigset_t block, old;
        sigemptyset(&block);
        sigaddset(&block, SIGUSR1);
        sigprocmask(SIG_BLOCK, &block, &old);
        while (!g_go && !g_stop)
            sigsuspend(&old);
        sigprocmask(SIG_SETMASK, &old, nullptr);
    }

    Source src(o);
    Encoder encode(o.encoding);
    Writer out(master, o.baud);
    long long count = o.count >= 0 ? o.count : src.naturalCount();
    long long lines = 0, garbage = 0, dropped = 0;
    const int64_t t0 = nowNs();
    int64_t firstByte = 0;
    // A line (UTF-8, without its end) as it goes on the line.
    auto shape = [&](const std::string& text) { return src.dirty(encode(text), garbage); };
    // Sends one shaped line; false when sending must end.
    auto send = [&](const std::string& line, long long i) {
        std::string end = o.ending == "crlf" ? "\r\n" : "\r";
        if (firstByte == 0)
            firstByte = nowNs();
        if (!out.write(line + end))
            return false;
        if (crlog) {
            std::fprintf(crlog, "%lld %lld\n", (long long)nowNs(), i);
            std::fflush(crlog);
        }
        if (sent) {
            std::fwrite(line.data(), 1, line.size(), sent);
            std::fputc('\n', sent);
            std::fflush(sent);
        }
        ++lines;
        if (o.ending == "late-lf") {
            if (!sleepMs(o.lfDelayMs))
                return false;
            if (!out.write("\n"))
                return false;
        }
        return true;
    };
    if (o.kind == "scale") {
        Scale scale(o.settle);
        std::string request;
        bool sending = true;
        while (sending && !g_stop && (count < 0 || lines < count)) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, -1) < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("vinstrument: poll");
                break;
            }
            char buf[256];
            ssize_t n = (p.revents & POLLIN) ? read(master, buf, sizeof buf) : 0;
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                // No one has the slave open (EIO or a hang-up, which poll()
                // cannot wait away): look again shortly, as a balance stays on.
                sleepMs(10);
                continue;
            }
            for (ssize_t k = 0; k < n && sending; ++k) {
                const char c = buf[k];
                if (c != '\r' && c != '\n') {
                    if (request.size() < 256)
                        request.push_back(c);
                    continue;
                }
                // CR, LF and CR LF each end a request: the empty one between
                // CR and LF asks nothing.
                if (!request.empty())
                    sending = send(shape(scale.answer(request)), lines);
                request.clear();
                if (count >= 0 && lines >= count)
                    break;
            }
        }
    }
    for (long long i = 0; o.kind != "scale" && (count < 0 || i < count) && !g_stop; ++i) {
        if (o.rate > 0) {
            // Line i is due at the start of its burst.
            int64_t due = t0 + int64_t(double((i / o.burst) * o.burst) * 1e9 / o.rate);
            if (!sleepUntil(due))
                break;
        }
        std::string line = shape(src.next(i));
        if (o.dropUnread && !slaveIsOpen(master)) {
            ++dropped;
            continue;
        }
        if (!send(line, i))
            break;
    }
    const int64_t t1 = nowNs();

    if (o.hold) {
        sigset_t none;
        sigemptyset(&none);
        while (!g_stop)
            sigsuspend(&none);
    } else if (!g_stop) {
        // Closing the master drops what the reader has not taken yet; give it
        // up to two seconds to read the rest.
        // The kernel hands bytes on to the reader's queue a little later, so
        // an empty queue counts only when seen twice, 20 ms apart.
        int64_t limit = nowNs() + 2000000000LL;
        int emptySeen = 0;
        while (!g_stop && nowNs() < limit && slaveIsOpen(master) && emptySeen < 2) {
            sleepMs(20);
            emptySeen = pendingInput(slavePath.c_str()) > 0 ? 0 : emptySeen + 1;
        }
    }

    double secs = firstByte ? double(t1 - firstByte) / 1e9 : 0;
    std::fprintf(stderr, "vinstrument: sent %lld lines, %lld bytes (%lld garbage) in %.3f s", lines,
                 out.bytes(), garbage, secs);
    if (o.dropUnread)
        std::fprintf(stderr, ", %lld lines dropped unread", dropped);
    std::fputc('\n', stderr);
    if (sent)
        std::fclose(sent);
    if (crlog)
        std::fclose(crlog);
    close(master);
    return 0;
}
