// line-holder [--far-end] [PATH...]: for the probe's tests, opens each PATH
// plainly (no lock), as another program would; with --far-end it also holds
// the master of a pseudo-terminal of its own, as the far end of another
// line. It prints "ready", then holds everything until its standard input
// closes.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    // Only what is opened here is held: the descriptors the test left open
    // (a line's master among them) are not this program's.
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    const bool farEnd = argc > 1 && std::strcmp(argv[1], "--far-end") == 0;
    // Held until the program ends.
    if (farEnd && ::posix_openpt(O_RDWR | O_NOCTTY) < 0) {
        std::perror("posix_openpt");
        return 1;
    }
    for (int i = farEnd ? 2 : 1; i < argc; ++i) {
        if (::open(argv[i], O_RDWR | O_NOCTTY) < 0) {
            std::perror(argv[i]);
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (char byte; ::read(STDIN_FILENO, &byte, 1) > 0;) {
    }
    return 0;
}
