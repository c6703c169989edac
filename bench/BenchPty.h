#pragma once

// A pseudo-terminal pair for the benchmarks; the port opens the slave by path.

#include <cstdio>
#include <cstdlib>
#include <string>

#include <pty.h>
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

    int master = -1;
    std::string path;
};
