#pragma once

// The board's boot loader on the far end of a pseudo-terminal, for the
// probe's tests.

#include "PtyPair.h"
#include "platform/TermiosMapping.h"

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

// Plays the boot loader on the far end of the line: answers each sync
// request in sync, but only while the line runs at the speed it listens at.
class BootLoaderDouble {
public:
    BootLoaderDouble(const PtyPair& pty, std::uint32_t listensAt) : master_(pty.Master()), listensAt_(listensAt)
    {
        // Without a descriptor on the port's side the line reads as hung up
        // between the probe's opens.
        slave_ = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave_, 0) << "cannot open " << pty.Path();
        if (::pipe(stop_) != 0)
            ADD_FAILURE() << "pipe failed";
        thread_ = std::thread([this] { Serve(); });
    }
    ~BootLoaderDouble()
    {
        [[maybe_unused]] const ssize_t n = ::write(stop_[1], "s", 1);
        thread_.join();
        ::close(stop_[0]);
        ::close(stop_[1]);
        ::close(slave_);
    }

    int SyncRequests() const { return requests_; }
    // Every byte the port's side sent, sync requests or not.
    int BytesReceived() const { return received_; }

    // The master side reports the terminal settings of the port's side.
    std::uint32_t LineSpeed() const
    {
        Comm::TTermios2 tio{};
        return ::ioctl(master_, _IOR('T', 0x2A, Comm::TTermios2), &tio) == 0 ? tio.c_ospeed : 0;
    }

private:

    void Serve()
    {
        std::string pending;
        for (;;) {
            pollfd fds[2] = {{master_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0)
                return;
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0)
                return;
            received_ += static_cast<int>(n);
            pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t at; (at = pending.find("\x30\x20")) != std::string::npos;) {
                pending.erase(0, at + 2);
                ++requests_;
                if (LineSpeed() == listensAt_ && ::write(master_, "\x14\x10", 2) != 2)
                    return;
            }
        }
    }

    int master_;
    int slave_ = -1;
    std::uint32_t listensAt_;
    int stop_[2] = {-1, -1};
    std::atomic<int> requests_{0};
    std::atomic<int> received_{0};
    std::thread thread_;
};
