#pragma once

// A pseudo-terminal pair for the benchmarks; the port opens the slave by path.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

struct BenchPty {
    BenchPty()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        ::close(slave);
        path = name;
    }
    ~BenchPty() { ::close(master); }

    // A blocking descriptor of the slave in raw mode, for the reference
    // readers that use the tty directly.
    int OpenRawSlave() const
    {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
        return fd;
    }

    int master = -1;
    std::string path;
};
