#pragma once

#include "ComPort.h"

// A port that counts the apply steps its settings objects ask for, without a device.
class TCountingPort : public TCustomComPort {
public:
    using TCustomComPort::TCustomComPort;

    int ControlBlocks = 0;
    int TimeoutApplies = 0;
    int BufferApplies = 0;

    void ApplyControlBlock() override { ++ControlBlocks; }
    void ApplyTimeouts() override { ++TimeoutApplies; }
    void ApplyBufferSizes() override { ++BufferApplies; }
    int Total() const { return ControlBlocks + TimeoutApplies + BufferApplies; }
};
