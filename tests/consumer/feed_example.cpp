// Runs the README's example on a pseudo-terminal: waits until it says the
// port is open, sends it a line, and expects to see it received. Every wait
// is bounded.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Reads the example's output until it contains what, for at most timeoutMs.
bool ReadUntil(int fd, std::string& output, const std::string& what, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (output.find(what) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1)
            return false;
        char chunk[256];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        output.append(chunk, static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: feed_example EXAMPLE\n");
        return 2;
    }
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 2;
    }
    int output[2];
    if (::pipe(output) != 0)
        return 2;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::close(output[0]);
        ::close(output[1]);
        ::close(master);
        ::close(slave);
        ::execl(argv[1], argv[1], name, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    ::close(slave);
    std::string seen;
    bool ok = ReadUntil(output[0], seen, "open", 10000);
    if (ok)
        ok = ::write(master, "hello\n", 6) == 6 && ReadUntil(output[0], seen, "received 6 bytes: hello", 10000);
    if (!ok)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::printf("%s", seen.c_str());
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the example did not receive the line (status %d)\n", status);
        return 1;
    }
    return 0;
}
