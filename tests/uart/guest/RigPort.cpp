#include "RigPort.h"

#include <QDir>


#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>

void Configure(TCustomComPort& port, TBaudRate baud, TFlowControl flow, const char* path)
{
    port.SetPortName(path);
    port.SetBaudRate(baud);
    port.SetDataBits(dbEight);
    port.Parity().SetBits(prNone);
    port.SetStopBits(sbOne);
    port.FlowControl().SetFlowControl(flow);
}

Received::Received(TCustomComPort& port)
{
    port.OnRxChar = [this](TCustomComPort* sender, std::int32_t count) {
        std::string chunk(static_cast<std::size_t>(count), '\0');
        chunk.resize(static_cast<std::size_t>(sender->Read(chunk.data(), count)));
        bytes_ += chunk;
        journal_.Add("rx");
    };
}

bool Received::WaitFor(std::size_t count, int timeoutMs)
{
    const long long deadline = NowMs() + timeoutMs;
    while (bytes_.size() < count) {
        const long long left = deadline - NowMs();
        if (left <= 0 || !journal_.WaitFor(journal_.Entries().size() + 1, static_cast<int>(left)))
            break;
    }
    return bytes_.size() >= count;
}

std::string Counting(std::size_t count, unsigned first)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((first + i) & 0xff);
    return bytes;
}

std::vector<std::string> ThreadWaits()
{
    std::vector<std::string> waits;
    for (const QString& thread : QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream wchan(("/proc/self/task/" + thread + "/wchan").toStdString());
        std::string where;
        std::getline(wchan, where);
        waits.push_back(where.empty() ? std::string("-") : where);
    }
    return waits;
}

std::string DriverView(const char* path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return "the driver's view is unavailable";
    int lines = 0;
    serial_icounter_struct counts{};
    ::ioctl(fd, TIOCMGET, &lines);
    ::ioctl(fd, TIOCGICOUNT, &counts);
    ::close(fd);
    char text[160];
    std::snprintf(text, sizeof text, "driver: CTS %d DSR %d DCD %d RI %d; changes counted: cts %d dsr %d dcd %d rng %d",
                  (lines & TIOCM_CTS) != 0, (lines & TIOCM_DSR) != 0, (lines & TIOCM_CD) != 0,
                  (lines & TIOCM_RI) != 0, counts.cts, counts.dsr, counts.dcd, counts.rng);
    std::string waits;
    for (const std::string& where : ThreadWaits())
        waits += (waits.empty() ? "; threads wait in: " : ", ") + where;
    return text + waits;
}

long long NowMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

long long CpuMs()
{
    timespec used{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return used.tv_sec * 1000LL + used.tv_nsec / 1000000;
}

int OpenDescriptors() { return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size()); }

long ResidentKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
