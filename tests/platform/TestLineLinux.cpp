#include "TestLine.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace PlatformTest {

namespace {

// A pseudo-terminal: the port opens the slave by its path, the test keeps
// the master as the far end.
class TPtyLine final : public TTestLine {
public:
    explicit TPtyLine(int master, std::string path) : master_(master), path_(std::move(path)) {}
    ~TPtyLine() override { ::close(master_); }

    std::string PortName() const override { return path_; }

    bool Send(std::string_view bytes) override
    {
        while (!bytes.empty()) {
            const ssize_t n = ::write(master_, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    std::string Receive(std::size_t count, std::chrono::milliseconds limit) override
    {
        std::string received;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (received.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd ready{master_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - received.size()));
            if (n <= 0)
                break;
            received.append(buffer, static_cast<std::size_t>(n));
        }
        return received;
    }

    void Discard() override { ::tcflush(master_, TCIFLUSH); }

private:
    int master_;
    std::string path_;
};

} // namespace

std::unique_ptr<TTestLine> OpenTestLine(std::string& why)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        why = "no pseudo-terminal could be made: the suite needs /dev/ptmx";
        if (master >= 0)
            ::close(master);
        return nullptr;
    }
    // The far end carries bytes as they are, both ways.
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    char name[128] = {};
    ::ptsname_r(master, name, sizeof name);
    return std::make_unique<TPtyLine>(master, name);
}

std::string MissingPortName()
{
    return "/dev/ttyZORBELMISSING9";
}

bool UnderWine()
{
    return false;
}

} // namespace PlatformTest
