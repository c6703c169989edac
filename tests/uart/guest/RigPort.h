#pragma once

// The port under test on the guest's line, set up as the cases need, with
// a journal of its events and the bytes it received.

#include "ComPort.h"
#include "FarLine.h"
#include "Journal.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Puts the far end back to rest between cases: wire free, a ready device
// presented, nothing left over from the case before.
class RigCase : public testing::Test {
protected:
    void SetUp() override
    {
        Far().Request("cancel"); // what the case before left scheduled
        Far().Release();
        Far().SetLines("CDK");
        Far().Flush();
    }
};

// A port configured on the line under test.
void Configure(TCustomComPort& port, TBaudRate baud, TFlowControl flow, const char* path = LinePath);

// Collects what the port receives through OnRxChar.
class Received {
public:
    explicit Received(TCustomComPort& port);
    // True once count bytes are there, waiting at most timeoutMs.
    bool WaitFor(std::size_t count, int timeoutMs = 5000);
    const std::string& Bytes() const { return bytes_; }

private:
    std::string bytes_;
    TJournal journal_;
};

// The 256 byte values, count bytes long, counting up from first.
std::string Counting(std::size_t count, unsigned first = 0);

// What the driver itself saw on a line: its modem lines and the counts of
// their changes, to tell a change the driver missed from one the port missed.
std::string DriverView(const char* path = LinePath);
// Where each thread of this process sleeps in the kernel.
std::vector<std::string> ThreadWaits();

// Milliseconds since some fixed point, for measuring how long calls take.
long long NowMs();
// CPU time this process used, in milliseconds.
long long CpuMs();
// Open file descriptors and resident memory (kB) of this process.
int OpenDescriptors();
long ResidentKb();
