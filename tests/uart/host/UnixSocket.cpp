#include "UnixSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

UnixListener::UnixListener(std::string path) : path_(std::move(path))
{
    fd_.Reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long: " + path_);
    std::strcpy(address.sun_path, path_.c_str());
    ::unlink(path_.c_str());
    if (!fd_.Valid() || ::bind(fd_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_.Get(), 1) != 0)
        throw std::system_error(errno, std::generic_category(), "listening on " + path_);
}

UnixListener::~UnixListener() { ::unlink(path_.c_str()); }

Comm::UniqueFd UnixListener::Accept(int timeoutMs)
{
    if (!WaitReadable(fd_.Get(), timeoutMs))
        return {};
    return Comm::UniqueFd(::accept4(fd_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
}

int UnixListener::Inheritable()
{
    ::fcntl(fd_.Get(), F_SETFD, 0);
    return fd_.Get();
}

Comm::UniqueFd ConnectTo(const std::string& path)
{
    Comm::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (!fd.Valid() || ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return {};
    return fd;
}

bool WaitReadable(int fd, int timeoutMs)
{
    pollfd entry{fd, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&entry, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool WriteAll(int fd, const void* bytes, std::size_t size)
{
    const auto* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = ::write(fd, next, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}
