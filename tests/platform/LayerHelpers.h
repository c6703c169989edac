#pragma once

// What the platform suite's tests share: owned event objects and ports, a
// plain line setting, and overlapped operations waited for with a bound.

#include "CommLayer.h"
#include "TestLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

namespace PlatformTest {

using namespace std::chrono_literals;

Comm::TCommLayer& Layer();

// Long enough for any machine that is not stuck.
inline constexpr std::chrono::milliseconds Patience = 5s;

class TEvent {
public:
    TEvent();
    ~TEvent();
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;
    Comm::THandle Get() const { return handle_; }

private:
    Comm::THandle handle_ = Comm::InvalidHandle;
};

// True when the event is signalled within the limit.
bool Signalled(Comm::THandle event, std::chrono::milliseconds limit);

// 8 data bits, no parity, one stop bit, binary, no flow control.
Comm::TDCB PlainDcb(std::uint32_t baudRate = 115200);

// The port under test, open on a fresh line, with the plain setting and
// reads that wait for their count; closed at the end unless closed before.
class PortTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Closes the port now; later steps may open it again.
    Comm::TOsError ClosePort();
    void SetTimeouts(const Comm::TCommTimeouts& timeouts);

    std::unique_ptr<TTestLine> line;
    Comm::THandle port = Comm::InvalidHandle;
};

// An overlapped read of count bytes on the port, waited for at most limit.
struct TReadOutcome {
    bool completed = false;
    Comm::TOsError error = Comm::NoError;
    std::string bytes;
};
TReadOutcome ReadWithin(Comm::THandle port, std::size_t count, std::chrono::milliseconds limit);
// An overlapped write of all the bytes, waited for at most Patience.
Comm::TOsError WriteAll(Comm::THandle port, const std::string& bytes);

// Every byte value once, in order.
std::string AllByteValues();

} // namespace PlatformTest

namespace PlatformTest {

// Where Wine's serial driver differs from Windows' documented behaviour. The
// backend follows Windows; these cases are skipped under Wine, saying why.
inline constexpr char WineReadsBlockWithMaxdwordInterval[] =
    "under Wine an overlapped read with an interval timeout of 0xFFFFFFFF and zero totals blocks instead of "
    "returning at once";
inline constexpr char WineLeavesTheEventMaskZero[] =
    "under Wine a WaitCommEvent ended by a line event completes as aborted (995) and leaves the event mask 0";
inline constexpr char WineHasNoModemLinesOnAPty[] =
    "under Wine GetCommModemStatus and the DTR/RTS functions fail on a port backed by a pseudo-terminal";

inline constexpr char WineOpensAPortTwice[] =
    "under Wine a COM port opens a second time while open";
inline constexpr char WinePurgeLeavesAReadPending[] =
    "under Wine PurgeComm's receive abort leaves a pending read pending";
inline constexpr char WineRefusesSevenDataBits[] =
    "under Wine SetCommState refuses 7 data bits";
inline constexpr char WineAcceptsOneAndAHalfStopBits[] =
    "under Wine SetCommState accepts 1.5 stop bits with 8 data bits";

// Says that one row of a table was skipped under Wine, and why.
void SkipRowUnderWine(const char* row, const char* reason);

} // namespace PlatformTest
