#pragma once

// A board on the far end of a pseudo-terminal that greets as the flashed
// board does after the reset that opening its line causes. A pseudo-terminal
// has no modem lines; what stands for the reset here is the port setting up
// its line at open, which the master side is told of in packet mode (the
// line's flow control switches off).

#include "PtyPair.h"

#include <QByteArray>

#include <atomic>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

class PtyBoard {
public:
    PtyBoard(const PtyPair& pty, QByteArray greeting) : pty_(pty), greeting_(std::move(greeting))
    {
        // The line stays up between the port's opens.
        slave_ = ::open(pty.Path().c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(slave_, 0) << "cannot open " << pty.Path();
        int on = 1;
        EXPECT_EQ(::ioctl(pty.Master(), TIOCPKT, &on), 0);
        if (::pipe(stop_) != 0)
            ADD_FAILURE() << "pipe failed";
        thread_ = std::thread([this] { Serve(); });
    }
    ~PtyBoard()
    {
        [[maybe_unused]] const ssize_t n = ::write(stop_[1], "s", 1);
        thread_.join();
        ::close(stop_[0]);
        ::close(stop_[1]);
        ::close(slave_);
    }

    int Greetings() const { return greetings_; }
    QByteArray Received() const
    {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void Serve()
    {
        for (;;) {
            pollfd fds[2] = {{pty_.Master(), POLLIN, 0}, {stop_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 || fds[1].revents != 0)
                return;
            char buffer[512];
            const ssize_t n = ::read(pty_.Master(), buffer, sizeof buffer);
            if (n <= 0)
                return;
            if (buffer[0] == TIOCPKT_DATA) {
                std::lock_guard lock(mutex_);
                received_.append(buffer + 1, n - 1);
            } else if (buffer[0] & TIOCPKT_NOSTOP) {
                pty_.Write(greeting_.toStdString());
                ++greetings_;
            }
        }
    }

    const PtyPair& pty_;
    QByteArray greeting_;
    int slave_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<int> greetings_{0};
    mutable std::mutex mutex_;
    QByteArray received_;
    std::thread thread_;
};
