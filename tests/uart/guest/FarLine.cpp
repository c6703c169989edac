#include "FarLine.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::string FromHex(const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return bytes;
}

} // namespace

FarLine& Far()
{
    static FarLine line;
    return line;
}

std::string FarLine::Open(const char* path)
{
    // The control line has no modem lines worth waiting for.
    fd_.Reset(::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_.Valid())
        return std::string("cannot open the control line ") + path + ": " + std::strerror(errno);
    termios settings{};
    ::tcgetattr(fd_.Get(), &settings);
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~CRTSCTS;
    ::cfsetspeed(&settings, B115200);
    if (::tcsetattr(fd_.Get(), TCSANOW, &settings) != 0)
        return std::string("cannot set up the control line: ") + std::strerror(errno);
    ::tcflush(fd_.Get(), TCIOFLUSH);
    return {};
}

std::string FarLine::Request(const std::string& request, int timeoutMs)
{
    const std::string line = request + "\n";
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t written = ::write(fd_.Get(), line.data() + done, line.size() - done);
        if (written < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("control line: " + std::string(std::strerror(errno)));
        if (written > 0)
            done += static_cast<std::size_t>(written);
        else
            ::tcdrain(fd_.Get());
    }
    const std::string reply = ReadLine(timeoutMs);
    if (reply.rfind("ok", 0) != 0)
        throw std::runtime_error("the far end refused \"" + request + "\": " + reply);
    return reply.size() > 3 ? reply.substr(3) : std::string();
}

std::string FarLine::ReadLine(int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (const std::size_t end = input_.find('\n'); end != std::string::npos) {
            std::string line = input_.substr(0, end);
            input_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd entry{fd_.Get(), POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) == 0)
            throw std::runtime_error("the far end did not answer in time");
        char buffer[4096];
        const ssize_t got = ::read(fd_.Get(), buffer, sizeof buffer);
        if (got > 0)
            input_.append(buffer, static_cast<std::size_t>(got));
    }
}

FarLines FarLine::Lines()
{
    const std::string answer = Request("get a");
    FarLines lines;
    unsigned dtr = 0, rts = 0;
    if (std::sscanf(answer.c_str(), "dtr=%u rts=%u breaks=%u", &dtr, &rts, &lines.breaks) != 3)
        throw std::runtime_error("unreadable line report: " + answer);
    lines.dtr = dtr != 0;
    lines.rts = rts != 0;
    return lines;
}

void FarLine::SendBytes(const std::string& bytes) { Request("sendhex a " + Hex(bytes)); }

std::string FarLine::Receive(std::size_t count, int timeoutMs)
{
    const std::string answer = Request("recv a " + std::to_string(count) + " " + std::to_string(timeoutMs),
                                       timeoutMs + 10000);
    const std::size_t space = answer.find(' ');
    const std::string bytes = FromHex(space == std::string::npos ? std::string() : answer.substr(space + 1));
    if (bytes.size() != std::stoul(answer.substr(0, space)))
        throw std::runtime_error("garbled receive report");
    return bytes;
}
