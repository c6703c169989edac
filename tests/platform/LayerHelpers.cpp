#include "LayerHelpers.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace Comm;

namespace PlatformTest {

TCommLayer& Layer()
{
    return DefaultCommLayer();
}

TEvent::TEvent()
{
    EXPECT_EQ(Layer().CreateEventObject(true, false, handle_), NoError) << "no event object";
}

TEvent::~TEvent()
{
    if (handle_ != InvalidHandle)
        Layer().CloseHandle(handle_);
}

bool Signalled(THandle event, std::chrono::milliseconds limit)
{
    const THandle events[] = {event};
    const TWaitResult result = Layer().WaitForMultipleObjects(events, static_cast<std::uint32_t>(limit.count()));
    EXPECT_NE(result.Result, WaitFailed) << "the wait failed: " << Layer().ErrorText(result.Error);
    return result.Result == WaitObject0;
}

TDCB PlainDcb(std::uint32_t baudRate)
{
    TDCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baudRate;
    dcb.Flags = dcb_Binary;
    dcb.XonLim = 1024;
    dcb.XoffLim = 1024;
    dcb.ByteSize = 8;
    dcb.Parity = NoParity;
    dcb.StopBits = OneStopBit;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

void PortTest::SetUp()
{
    std::string why;
    line = OpenTestLine(why);
    ASSERT_TRUE(line) << why;
    const TOsError error = Layer().CreateDevice(line->PortName(), port);
    ASSERT_EQ(error, NoError) << line->PortName() << " does not open: " << Layer().ErrorText(error);
    ASSERT_EQ(Layer().SetupComm(port, 4096, 4096), NoError);
    ASSERT_EQ(Layer().SetCommState(port, PlainDcb()), NoError);
    SetTimeouts({0, 0, 0, 0, 0});
    ASSERT_EQ(Layer().PurgeComm(port, PurgeRxClear | PurgeTxClear), NoError);
    line->Discard();
}

void PortTest::TearDown()
{
    ClosePort();
}

TOsError PortTest::ClosePort()
{
    if (port == InvalidHandle)
        return NoError;
    const TOsError error = Layer().CloseHandle(port);
    port = InvalidHandle;
    return error;
}

void PortTest::SetTimeouts(const TCommTimeouts& timeouts)
{
    ASSERT_EQ(Layer().SetCommTimeouts(port, timeouts), NoError);
}

namespace {

// An operation whose buffer goes away must have ended: a pending one would
// write into freed memory.
void EndWithin(THandle port, THandle event, std::uint32_t purge)
{
    Layer().PurgeComm(port, purge);
    if (!Signalled(event, Patience)) {
        ADD_FAILURE() << "an operation stayed pending after it was aborted";
        std::abort();
    }
}

} // namespace

TReadOutcome ReadWithin(THandle port, std::size_t count, std::chrono::milliseconds limit)
{
    TReadOutcome outcome;
    const TEvent event;
    TOverlapped overlapped{};
    overlapped.hEvent = event.Get();
    std::vector<char> buffer(count);
    std::uint32_t read = 0;
    outcome.error = Layer().ReadFile(port, buffer.data(), static_cast<std::uint32_t>(count), read, overlapped);
    if (outcome.error == IoPending) {
        if (!Signalled(event.Get(), limit)) {
            EndWithin(port, event.Get(), PurgeRxAbort);
            return outcome;
        }
        outcome.error = Layer().GetOverlappedResult(port, overlapped, read, false);
    }
    outcome.completed = true;
    outcome.bytes.assign(buffer.data(), outcome.error == NoError ? read : 0);
    return outcome;
}

TOsError WriteAll(THandle port, const std::string& bytes)
{
    const TEvent event;
    TOverlapped overlapped{};
    overlapped.hEvent = event.Get();
    std::uint32_t written = 0;
    TOsError error = Layer().WriteFile(port, bytes.data(), static_cast<std::uint32_t>(bytes.size()), written, overlapped);
    if (error == IoPending) {
        if (!Signalled(event.Get(), Patience)) {
            EndWithin(port, event.Get(), PurgeTxAbort);
            ADD_FAILURE() << "the write did not complete";
            return error;
        }
        error = Layer().GetOverlappedResult(port, overlapped, written, false);
    }
    EXPECT_EQ(written, bytes.size()) << "the write took fewer bytes";
    return error;
}

void SkipRowUnderWine(const char* row, const char* reason)
{
    std::printf("[  SKIPPED ] %s: %s\n", row, reason);
}

std::string AllByteValues()
{
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

} // namespace PlatformTest
