// A stand-in for the flasher, built as "avrdude" in a folder of its own that
// a test puts first on PATH. It records what it was given and where it ran
// in the file ZORBEL_STANDIN_RECORD names, one "key=value" a line:
//   pid=<its process number>
//   cwd=<its working directory>
//   arg=<each argument, in order>
//   terminal=yes|no   (standard input, output and error a terminal, and the
//                      terminal its controlling one)
//   port=opened|<the system's text for a failed open>
// It opens the port given by -P as the flasher does, exclusively, and fails
// as the flasher fails when it cannot. Then it prints what avrdude 7.1
// prints on a terminal for a board that answers (ZORBEL_STANDIN_STYLE=6: the
// bars as 6.x draws them), exits with ZORBEL_STANDIN_EXIT (0 by default), or
// with ZORBEL_STANDIN_HOLD set waits to be ended ("ignore-term": ignoring
// SIGTERM, to be killed).

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The port the flasher would open, exclusively: someone else's exclusive
// mode or lock is a busy port. The stand-in takes the lock, not exclusive
// mode: that belongs to the terminal and would outlive a stand-in that is
// killed while the test's end of the line stays open.
int OpenPort(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        return EBUSY;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    // Kept open until the stand-in ends, as the flasher keeps it.
    return 0;
}

bool OnTerminal()
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty >= 0)
        ::close(tty);
    return tty >= 0 && ::isatty(0) && ::isatty(1) && ::isatty(2);
}

void Bars(const char* phase, bool sixStyle)
{
    // As the flasher draws them: a line of its own, then each state drawn
    // over the last from a '\r', the finished bar ended by a blank line.
    std::fprintf(stderr, "\n");
    for (const int percent : {0, 12, 25, 37, 50, 62, 75, 87, 100}) {
        char hashes[51];
        std::memset(hashes, ' ', 50);
        for (int i = 0; i < percent; i += 2)
            hashes[i / 2] = '#';
        hashes[50] = 0;
        if (sixStyle)
            std::fprintf(stderr, "\r%s | %s | %d%% %0.2fs", phase, hashes, percent, percent / 1000.0);
        else
            std::fprintf(stderr, "\r%s | %s | %d%% %0.2f s ", phase, hashes, percent, percent / 1000.0);
        std::fflush(stderr);
    }
    std::fprintf(stderr, "\n\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::string record;
    char here[4096];
    record += "pid=" + std::to_string(::getpid()) + "\n";
    record += std::string("cwd=") + (::getcwd(here, sizeof here) ? here : "?") + "\n";
    std::string port;
    for (int i = 1; i < argc; ++i) {
        record += std::string("arg=") + argv[i] + "\n";
        if (std::strcmp(argv[i], "-P") == 0 && i + 1 < argc)
            port = argv[i + 1];
    }
    record += std::string("terminal=") + (OnTerminal() ? "yes" : "no") + "\n";
    const int portError = OpenPort(port);
    record += std::string("port=") + (portError == 0 ? "opened" : std::strerror(portError)) + "\n";
    if (FILE* file = std::fopen(Variable("ZORBEL_STANDIN_RECORD").c_str(), "w")) {
        std::fputs(record.c_str(), file);
        std::fclose(file);
    }

    if (portError != 0) {
        std::fprintf(stderr, "avrdude OS error: cannot open port %s: %s\n", port.c_str(), std::strerror(portError));
        std::fprintf(stderr, "avrdude error: unable to open programmer arduino on port %s\n\navrdude done.  Thank you.\n\n",
                     port.c_str());
        return 1;
    }
    const bool sixStyle = Variable("ZORBEL_STANDIN_STYLE") == "6";
    std::printf("avrdude: port %s opened\n", port.c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "\navrdude: AVR device initialized and ready to accept instructions\n"
                         "avrdude: device signature = 0x1e950f (probably m328p)\n"
                         "avrdude: erasing chip\n"
                         "avrdude: writing 1024 bytes flash ...\n");
    Bars("Writing", sixStyle);
    std::fprintf(stderr, "avrdude: 1024 bytes of flash written\n"
                         "avrdude: verifying flash memory against datalogger_new.hex\n");
    Bars("Reading", sixStyle);
    std::fprintf(stderr, "avrdude: 1024 bytes of flash verified\n\navrdude done.  Thank you.\n\n");

    const std::string hold = Variable("ZORBEL_STANDIN_HOLD");
    if (!hold.empty()) {
        if (hold == "ignore-term")
            std::signal(SIGTERM, SIG_IGN);
        for (;;)
            ::pause();
    }
    const std::string code = Variable("ZORBEL_STANDIN_EXIT");
    return code.empty() ? 0 : std::atoi(code.c_str());
}
