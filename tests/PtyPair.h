#pragma once

// A real pseudo-terminal pair: the port opens the slave by its path, the test
// plays the other end of the line through the master.

#include <QByteArray>
#include <QDir>

#include <mutex>
#include <string>

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

class PtyPair {
public:
    PtyPair()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty failed: pseudo-terminals are needed for these tests";
            return;
        }
        // The port opens its own descriptor by path; the test keeps none.
        ::close(slave);
        path_ = name;
    }
    ~PtyPair()
    {
        if (master_ >= 0)
            ::close(master_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& Path() const { return path_; }
    int Master() const { return master_; }
    // Writing and closing may happen on different threads (a handler closes
    // the line the test wrote to); the lock orders them.
    void Write(const std::string& bytes) const
    {
        std::lock_guard lock(mutex_);
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void CloseMaster()
    {
        std::lock_guard lock(mutex_);
        ::close(master_);
        master_ = -1;
    }

private:
    mutable std::mutex mutex_;
    int master_ = -1;
    std::string path_;
};

inline int OpenDescriptorCount()
{
    return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

#include "ComPort.h"

// Opens a port on a pseudo-terminal, which must open as cleanly as any
// serial port: no error at all.
inline void OpenOnPty(TCustomComPort& port)
{
    ASSERT_NO_THROW(port.Open());
    ASSERT_TRUE(port.Connected());
}
