#pragma once

// The far end's listening sockets: the emulator connects to them as a
// client at start-up (its monitor, the line that carries breaks in).

#include "platform/UniqueFd.h"

#include <string>

class UnixListener {
public:
    explicit UnixListener(std::string path);
    ~UnixListener();
    UnixListener(const UnixListener&) = delete;
    UnixListener& operator=(const UnixListener&) = delete;

    const std::string& Path() const { return path_; }
    // The listening descriptor, left open across exec for a child that
    // takes over the listening.
    int Inheritable();
    // The first connection, or an invalid descriptor after timeoutMs.
    Comm::UniqueFd Accept(int timeoutMs);

private:
    std::string path_;
    Comm::UniqueFd fd_;
};

// Connects to a listening socket; invalid when it failed.
Comm::UniqueFd ConnectTo(const std::string& path);
// Waits up to timeoutMs for the descriptor to become readable.
bool WaitReadable(int fd, int timeoutMs);
// Writes all of bytes; false when the descriptor failed.
bool WriteAll(int fd, const void* bytes, std::size_t size);
