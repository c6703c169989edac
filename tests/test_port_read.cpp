// Reading and line status on the fake device: the bit mappings, every failure
// code with and without OnException, and records released on every path.
#include "PortFixture.h"

#include <cerrno>

using namespace Comm;

namespace {

class LineStatus : public PortOnFakeDevice {
protected:
    LineStatus()
    {
        port.SetEvents({});
        port.Open();
    }
};

TEST_F(LineStatus, EachErrorBitMapsToItsElement)
{
    struct Case {
        std::uint32_t bit;
        TComError element;
    };
    const Case cases[] = {{CeFrame, ceFrame}, {CeOverrun, ceOverrun}, {CeBreak, ceBreak}, {CeIoe, ceIO},
                          {CeMode, ceMode},   {CeRxOver, ceRxOver},   {CeTxFull, ceTxFull}};
    for (const Case& c : cases) {
        device.InjectErrors(c.bit);
        EXPECT_EQ(port.LastErrors(), TComErrors{c.element}) << "bit " << c.bit;
    }
    device.InjectErrors(0x0020 | 0x0200 | 0x4000);
    EXPECT_TRUE(port.LastErrors().Empty()) << "bits outside the table are dropped";
}

TEST_F(LineStatus, ParityErrorsCountOnlyWithCheckingOn)
{
    device.InjectErrors(CeRxParity | CeFrame);
    EXPECT_EQ(port.LastErrors(), TComErrors{ceFrame});
    port.Parity().SetCheck(true);
    device.InjectErrors(CeRxParity);
    EXPECT_EQ(port.LastErrors(), TComErrors{ceRxParity});
    EXPECT_TRUE(port.LastErrors().Empty()) << "reading clears the errors";
}

TEST_F(LineStatus, SignalsMapTheModemStatusBits)
{
    device.SetModemStatus(MsCtsOn | MsRlsdOn);
    EXPECT_EQ(port.Signals(), TComSignals({csCTS, csRLSD}));
    device.SetModemStatus(MsDsrOn | MsRingOn);
    EXPECT_EQ(port.Signals(), TComSignals({csDSR, csRing}));
    device.SetModemStatus(0);
    EXPECT_TRUE(port.Signals().Empty());
}

TEST_F(LineStatus, InputCountAndReadTakeWhatArrived)
{
    EXPECT_EQ(port.InputCount(), 0);
    device.InjectBytes("hello");
    EXPECT_EQ(port.InputCount(), 5);
    char buffer[8] = {};
    EXPECT_EQ(port.Read(buffer, 8), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.Read(buffer, 0), 0);
    EXPECT_EQ(device.OpenEvents(), 1u) << "reads share the port's one record";
    port.Close();
    EXPECT_EQ(device.OpenEvents(), 0u) << "closing released the record's event";
}

TEST_F(LineStatus, FailuresRaiseTheirCodes)
{
    char buffer[4];
    ExpectEachFailureRaises({
        {"ClearCommError", ecClearErrorFailed, [&] { port.InputCount(); }},
        {"ClearCommError", ecClearErrorFailed, [&] { port.LastErrors(); }},
        {"GetCommModemStatus", ecModemStatusFailed, [&] { port.Signals(); }},
        {"PurgeComm", ecPurgeFailed, [&] { port.AbortAllAsync(); }},
        {"ReadFile", ecReadFailed, [&] { port.Read(buffer, 4); }},
        {"GetOverlappedResult", ecReadFailed, [&] { port.Read(buffer, 4); }},
    });
}

TEST_F(LineStatus, WithHandlerFailuresAreReportedAndTheOperationsReturnZero)
{
    RecordErrors();
    char buffer[4];
    device.Fail("ReadFile", EIO, 1);
    EXPECT_EQ(port.Read(buffer, 4), 0);
    device.Fail("ClearCommError", EIO, 1);
    EXPECT_EQ(port.InputCount(), 0);
    device.Fail("GetCommModemStatus", ENOTTY, 1);
    EXPECT_TRUE(port.Signals().Empty());
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[0].Code, ecReadFailed);
    EXPECT_EQ(errors[1].Code, ecClearErrorFailed);
    EXPECT_EQ(errors[2].Code, ecModemStatusFailed);
    EXPECT_EQ(errors[2].OsError, ENOTTY);
    EXPECT_LE(device.OpenEvents(), 1u);
}

TEST_F(LineStatus, ANegativeCountIsRefusedBeforeAnythingIsRead)
{
    RecordErrors();
    device.InjectBytes("abc");
    char buffer[8] = "canary";
    EXPECT_EQ(port.Read(buffer, -1), 0);
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    EXPECT_EQ(port.ReadAsync(buffer, INT32_MIN, record), 0);
    port.DoneAsync(record);
    ASSERT_EQ(errors.size(), 2u);
    for (const TRecordedError& error : errors) {
        EXPECT_EQ(error.Code, ecReadFailed);
        EXPECT_EQ(error.OsError, EINVAL);
    }
    const auto calls = device.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ReadFile"), 0);
    EXPECT_EQ(std::string(buffer), "canary");
    EXPECT_EQ(device.QueuedBytes(), 3u);
}

TEST_F(LineStatus, ALostDeviceDeliversWhatArrivedThenFailsEveryRead)
{
    port.Timeouts().SetReadInterval(0);
    device.InjectBytes("abc", false);
    PAsyncRecord pending = nullptr;
    port.InitAsync(pending);
    char early[8] = {};
    EXPECT_EQ(port.ReadAsync(early, 8, pending), 0) << "the read waits for more";
    device.LoseDevice(EIO);
    EXPECT_EQ(port.WaitForAsync(pending), 3) << "what arrived before the loss is delivered";
    EXPECT_EQ(std::string(early, 3), "abc");
    port.DoneAsync(pending);

    char buffer[8];
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    struct Case {
        const char* what;
        TComErrorCode code;
        std::function<void()> operation;
    };
    const Case cases[] = {
        {"Read", ecReadFailed, [&] { port.Read(buffer, 8); }},
        {"ReadAsync", ecReadFailed, [&] { port.ReadAsync(buffer, 8, record); }},
        {"InputCount", ecClearErrorFailed, [&] { port.InputCount(); }},
        {"LastErrors", ecClearErrorFailed, [&] { port.LastErrors(); }},
    };
    for (const Case& c : cases) {
        try {
            c.operation();
            ADD_FAILURE() << c.what << " on a lost device raised nothing";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), c.code) << c.what;
            EXPECT_EQ(e.WinCode(), EIO) << c.what;
        }
    }
    port.DoneAsync(record);

    port.Close();
    EXPECT_FALSE(port.Connected());
    device.SetMissing("/dev/ttyFAKE0");
    try {
        port.Open();
        FAIL() << "a missing device opened";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecOpenFailed);
        EXPECT_EQ(e.WinCode(), ENOENT);
    }
    device.SetMissing("/dev/ttyFAKE0", false);
    port.Open();
    device.InjectBytes("back");
    EXPECT_EQ(port.Read(buffer, 4), 4) << "the device works again once it is back";
}

TEST_F(LineStatus, MissingRecordIsReportedWithoutGoingOn)
{
    RecordErrors();
    PAsyncRecord record = nullptr;
    char buffer[4];
    EXPECT_EQ(port.ReadAsync(buffer, 4, record), 0);
    EXPECT_EQ(port.WaitForAsync(record), 0);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].Code, ecInvalidAsync);
    EXPECT_EQ(errors[0].OsError, 0);
    EXPECT_EQ(errors[0].OsMessage, "");
    const auto calls = device.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "ReadFile"), 0);
}

TEST_F(LineStatus, AsyncReadCompletesWhenTheBytesArrive)
{
    port.Timeouts().SetReadInterval(0);
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    char buffer[4] = {};
    EXPECT_EQ(port.ReadAsync(buffer, 4, record), 0);
    device.InjectBytes("wxyz");
    EXPECT_EQ(port.WaitForAsync(record), 4);
    EXPECT_EQ(std::string(buffer, 4), "wxyz");
    EXPECT_EQ(record->Kind, akRead);
    port.DoneAsync(record);
    EXPECT_EQ(record, nullptr);
}

TEST_F(LineStatus, ReceivingStoppedIsToldToLinksWhenTheQueueEmpties)
{
    port.Close();
    TComPortLink link;
    QStringList seen;
    link.OnRxActivity = [&](TCustomComPort*, bool on) { seen << QString("rx %1").arg(on); };
    port.RegisterLink(&link);
    port.Open();
    device.InjectBytes("ab");
    char buffer[1];
    port.Read(buffer, 1);
    EXPECT_TRUE(seen.isEmpty()) << "a byte is still waiting";
    port.Read(buffer, 1);
    EXPECT_EQ(seen, QStringList{"rx 0"});
    port.Close();
    port.UnregisterLink(&link);
}

TEST(PortRead, ClosedPortRaisesPortNotOpen)
{
    TFakeCommLayer device;
    TCustomComPort port(nullptr, device);
    char buffer[4];
    try {
        port.Read(buffer, 4);
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecPortNotOpen);
        EXPECT_EQ(e.WinCode(), -1);
    }
    EXPECT_EQ(device.OpenEvents(), 0u);
}

} // namespace
