// xdo_anchor: types lines read from stdin with libxdo, as a C++ developer
// using the library would: xdo_enter_text_window per line with no delay,
// then the Return key. A line ends at CR, LF or CR LF.
//
// Reads with read(2), unbuffered, so it also serves as a latency anchor when
// stdin is a pty. Reports characters typed, wall time and CPU on stderr.

extern "C" {
#include <xdo.h>
}

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

static double nowSec() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

int main(int argc, char** argv) {
    useconds_t delay = argc > 1 ? useconds_t(std::atoi(argv[1])) : 0;
    xdo_t* xdo = xdo_new(nullptr);
    if (!xdo) {
        std::fprintf(stderr, "xdo_anchor: cannot open display\n");
        return 1;
    }
    std::string line;
    long long chars = 0, lines = 0;
    double t0 = 0;
    bool lastCr = false;
    char buf[4096];
    ssize_t n;
    while ((n = read(0, buf, sizeof buf)) > 0) {
        if (t0 == 0)
            t0 = nowSec();
        for (ssize_t i = 0; i < n; ++i) {
            char c = buf[i];
            if (c == '\n' && lastCr) {
                lastCr = false;
                continue;
            }
            lastCr = c == '\r';
            if (c == '\r' || c == '\n') {
                if (!line.empty())
                    xdo_enter_text_window(xdo, CURRENTWINDOW, line.c_str(), delay);
                xdo_send_keysequence_window(xdo, CURRENTWINDOW, "Return", delay);
                chars += (long long)line.size() + 1;
                ++lines;
                line.clear();
            } else {
                line.push_back(c);
            }
        }
    }
    double t1 = nowSec();
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    double cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    std::fprintf(stderr, "xdo_anchor: lines=%lld bytes=%lld wall_s=%.3f cpu_s=%.3f\n", lines, chars,
                 t0 ? t1 - t0 : 0.0, cpu);
    xdo_free(xdo);
    return 0;
}
