// line-holder [--far-end] [PATH...]: for the probe's tests, opens each PATH
// plainly (no lock), as another program would; with --far-end it also holds
// both ends of a pseudo-terminal of its own, as a simulated board does, and
// answers sync requests there. It prints "ready" and that slave's path ("-"
// without one), then holds everything until its standard input closes.

#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

// Answers each sync request (STK_GET_SYNC, CRC_EOP) in sync.
bool Answer(int master, std::string& pending)
{
    char buffer[256];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0)
        return false;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t at; (at = pending.find("\x30\x20")) != std::string::npos;) {
        pending.erase(0, at + 2);
        if (::write(master, "\x14\x10", 2) != 2)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Only what is opened here is held: the descriptors the test left open
    // (a line's master among them) are not this program's.
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    const bool farEnd = argc > 1 && std::strcmp(argv[1], "--far-end") == 0;
    // Held until the program ends.
    for (int i = farEnd ? 2 : 1; i < argc; ++i) {
        if (::open(argv[i], O_RDWR | O_NOCTTY) < 0) {
            std::perror(argv[i]);
            return 1;
        }
    }
    int master = -1, slave = -1;
    char name[256] = "-";
    if (farEnd && ::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    std::printf("ready %s\n", name);
    std::fflush(stdout);
    std::string pending;
    for (;;) {
        // A negative descriptor (no far end) is left out by poll.
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {master, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            return 1;
        if (char byte; fds[0].revents != 0 && ::read(STDIN_FILENO, &byte, 1) <= 0)
            return 0;
        if ((fds[1].revents & POLLIN) != 0 && !Answer(master, pending))
            return 1;
    }
}
