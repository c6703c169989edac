#pragma once

// Asks a board's serial boot loader whether it listens at a given speed: the
// board is reset through DTR and RTS as the flasher resets it, then the
// STK500 sync request is sent until the loader answers in sync.

#include <cstdint>

class TCustomComPort;

enum class TProbeResult { InSync, NoAnswer };

// Opens the port at speed (8N1, no flow control), probes, and closes it
// again. Failures of the port raise EComPort.
TProbeResult ProbeBootLoader(TCustomComPort& port, std::int32_t speed);
