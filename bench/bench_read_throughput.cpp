// Bulk read throughput of an open port over a pseudo-terminal pair, in MB/s:
// a writer thread pushes a fixed volume through the master, the port reads it
// with Read in large requests.
#include "BenchPty.h"
#include "ComErrors.h"
#include "ComPort.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>


namespace {

constexpr std::size_t Total = 64u << 20;
constexpr std::int32_t Chunk = 64 * 1024;

void WriteAll(int master)
{
    std::vector<char> block(Chunk, 'x');
    std::size_t sent = 0;
    while (sent < Total) {
        const ssize_t n = ::write(master, block.data(), block.size());
        if (n > 0)
            sent += static_cast<std::size_t>(n);
    }
}

void Report(const char* what, std::size_t received, std::chrono::steady_clock::time_point start)
{
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-14s %.1f MB/s (%zu bytes in %.3f s)\n", what, received / seconds / 1e6, received, seconds);
}

// The reference: blocking read() of the raw tty in the same chunks.
void BareRead()
{
    BenchPty pty;
    const int fd = pty.OpenRawSlave();
    std::thread writer([&] { WriteAll(pty.master); });
    std::vector<char> buffer(Chunk);
    std::size_t received = 0;
    const auto start = std::chrono::steady_clock::now();
    while (received < Total) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        received += static_cast<std::size_t>(n);
    }
    Report("bare read", received, start);
    writer.join();
    ::close(fd);
}

} // namespace

int main(int argc, char** argv)
{
    InitPortErrorMessages();
    QCoreApplication application(argc, argv);
    BareRead();
    BenchPty pty;

    TCustomComPort port;
    port.SetPort(QString::fromStdString(pty.path));
    port.SetEvents({});
    port.Buffer().SetInputSize(Chunk);
    // Wait until the request is full or 50 ms pass without a byte.
    port.Timeouts().SetReadInterval(50);
    port.OnException = [](TCustomComPort*, TComErrorCode, const QString&, std::int64_t, const QString&) {};
    port.Open();

    std::thread writer([&] { WriteAll(pty.master); });

    std::vector<char> buffer(Chunk);
    std::size_t received = 0;
    const auto start = std::chrono::steady_clock::now();
    while (received < Total) {
        const std::int32_t n = port.Read(buffer.data(), Chunk);
        if (n <= 0)
            break;
        received += static_cast<std::size_t>(n);
    }
    Report("port Read", received, start);
    writer.join();
    return received == Total ? 0 : 1;
}
