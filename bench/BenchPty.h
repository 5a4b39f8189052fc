#pragma once
// A pseudo-terminal for the in-process benchmarks: the line under test adopts the slave end,
// the benchmark reads and writes the master end (blocking, paced by poll).

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace corvane::bench {

struct Pty {
    int master = -1;
    int slave = -1;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            std::perror("pty");
            std::exit(1);
        }
        slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~Pty() { ::close(master); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

} // namespace corvane::bench
