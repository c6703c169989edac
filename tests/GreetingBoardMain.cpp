// greeting-board [LINES]: a flashed board on the far end of a pseudo-terminal
// of its own, for showing the monitor at work. It prints the line's path,
// waits for the line to be opened (set up by the port), then says its
// greeting and LINES log lines (8 unless told), one every 300 ms, prints
// "done" and keeps the line until its standard input closes.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr const char* Greeting = "ZORBEL datalogger v3.0 (firmware 2026-03-01)\r\n"
                                 "SD card: OK, 1843 MB free\r\n"
                                 "RTC: 2026-03-04 05:06:07\r\n";

bool Say(int master, const std::string& text)
{
    return ::write(master, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// In packet mode the master is told when the port sets up the line at open
// (its flow control switches off): that stands for the reset a real board
// gets from DTR.
bool WaitForOpen(int master)
{
    for (;;) {
        pollfd fds = {master, POLLIN, 0};
        if (::poll(&fds, 1, -1) < 0)
            return false;
        char packet[512];
        const ssize_t n = ::read(master, packet, sizeof packet);
        if (n <= 0)
            return false;
        if (packet[0] & TIOCPKT_NOSTOP)
            return true;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    const int lines = argc > 1 ? std::atoi(argv[1]) : 8;
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("greeting-board: openpty");
        return 1;
    }
    int on = 1;
    ::ioctl(master, TIOCPKT, &on);
    std::printf("%s\n", name);
    std::fflush(stdout);
    if (!WaitForOpen(master) || !Say(master, Greeting))
        return 1;
    for (int i = 0; i < lines; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        char line[96];
        std::snprintf(line, sizeof line, "log: T=%.1f C  RH=48 %%  P=1013.2 hPa\r\n", 21.0 + 0.1 * i);
        if (!Say(master, line))
            return 1;
    }
    std::printf("done\n");
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    ::close(slave);
    ::close(master);
    return 0;
}
