// Writing and the output lines on the fake device: every record and call the
// port sends, each failure code, and what the links hear, in their order.
#include "PortFixture.h"

#include <cerrno>

using namespace Comm;

namespace {

class Writing : public PortOnFakeDevice {
protected:
    Writing()
    {
        port.SetEvents({});
        port.Open();
    }
};

TEST_F(Writing, BytesReachTheDeviceInOrder)
{
    EXPECT_EQ(port.Write("abc", 3), 3);
    EXPECT_EQ(port.WriteStr(std::string("he\0lo", 5)), 5);
    EXPECT_EQ(port.Write("", 0), 0);
    EXPECT_EQ(device.Writes(), std::vector<std::string>({"abc", std::string("he\0lo", 5), ""}));
    EXPECT_EQ(device.OpenEvents(), 1u) << "writes share the port's one record";
    port.Close();
    EXPECT_EQ(device.OpenEvents(), 0u);
}

TEST_F(Writing, AnAsyncTextWriteCarriesItsOwnCopy)
{
    device.StallWrites(true);
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    {
        std::string text = "hello";
        EXPECT_EQ(port.WriteStrAsync(text, record), 0) << "a stalled write is pending";
        text.assign("XXXXX");
    }
    EXPECT_EQ(record->Kind, akWrite);
    EXPECT_EQ(record->DataSize, 5);
    EXPECT_EQ(port.OutputCount(), 5);
    device.ReleaseWrites();
    EXPECT_EQ(port.WaitForAsync(record), 5);
    EXPECT_EQ(port.OutputCount(), 0);
    port.DoneAsync(record);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(device.Writes(), std::vector<std::string>{"hello"});
}

TEST_F(Writing, FailuresRaiseTheirCodes)
{
    ExpectEachFailureRaises({
        {"WriteFile", ecWriteFailed, [&] { port.Write("x", 1); }},
        {"GetOverlappedResult", ecWriteFailed, [&] { port.WriteStr("x"); }},
        {"EscapeCommFunction", ecEscapeFailed, [&] { port.SetDTR(true); }},
        {"EscapeCommFunction", ecEscapeFailed, [&] { port.SetBreak(false); }},
        {"TransmitCommChar", ecTransmitFailed, [&] { port.TransmitChar('x'); }},
        {"PurgeComm", ecPurgeFailed, [&] { port.ClearBuffer(false, true); }},
        {"ClearCommError", ecClearErrorFailed, [&] { port.OutputCount(); }},
    });
}

TEST_F(Writing, ANegativeCountOrAClosedPortIsRefusedBeforeTheDevice)
{
    RecordErrors();
    EXPECT_EQ(port.Write("abc", -1), 0);
    port.Close();
    EXPECT_EQ(port.Write("abc", 3), 0);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].Code, ecWriteFailed);
    EXPECT_EQ(errors[0].OsError, EINVAL);
    EXPECT_EQ(errors[1].Code, ecPortNotOpen);
    const auto calls = device.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "WriteFile"), 0);
    EXPECT_EQ(device.OpenEvents(), 0u);
}

TEST_F(Writing, OutputLinesCharactersAndPurgesReachTheDevice)
{
    port.SetDTR(true);
    port.SetDTR(false);
    port.SetRTS(true);
    port.SetRTS(false);
    port.SetXonXoff(true);
    port.SetXonXoff(false);
    port.SetBreak(true);
    port.SetBreak(false);
    EXPECT_EQ(device.Escapes(),
              std::vector<std::uint32_t>({EscSetDtr, EscClrDtr, EscSetRts, EscClrRts, EscSetXon, EscSetXoff, EscSetBreak, EscClrBreak}));
    port.TransmitChar('!');
    EXPECT_EQ(device.Transmitted(), "!");
    device.ClearCalls();
    port.ClearBuffer(true, false);
    port.ClearBuffer(false, true);
    port.ClearBuffer(true, true);
    port.ClearBuffer(false, false);
    EXPECT_EQ(device.Purges(),
              std::vector<std::uint32_t>({PurgeRxClear, PurgeTxClear, PurgeRxClear | PurgeTxClear}));
}

TEST_F(Writing, AbortAndCloseEndAPendingWrite)
{
    device.StallWrites(true);
    PAsyncRecord record = nullptr;
    port.InitAsync(record);
    EXPECT_EQ(port.WriteAsync("abc", 3, record), 0);
    port.AbortAllAsync();
    try {
        port.WaitForAsync(record);
        ADD_FAILURE() << "an aborted write completed";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecWriteFailed);
        EXPECT_EQ(e.WinCode(), ECANCELED);
    }
    EXPECT_EQ(port.WriteAsync("def", 3, record), 0);
    port.Close();
    RecordErrors();
    EXPECT_EQ(port.WaitForAsync(record), 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Code, ecWriteFailed);
    port.DoneAsync(record);
    EXPECT_TRUE(device.Writes().empty());
}

TEST_F(Writing, LinksHearOfWritesAndOfTheEmptyQueueInOrder)
{
    port.Close();
    TComPortLink first, second;
    for (auto [link, name] : {std::pair{&first, QString("first")}, std::pair{&second, QString("second")}}) {
        link->OnTxBuf = [this, name](TCustomComPort*, const void* data, std::int32_t count) {
            journal << name + " TxBuf " + QString::fromLatin1(static_cast<const char*>(data), count);
        };
        link->OnTxActivity = [this, name](TCustomComPort*, bool on) { journal << name + QString(" TxActivity %1").arg(on); };
        link->OnTxEmpty = [this, name](TCustomComPort*) { journal << name + " TxEmpty"; };
        port.RegisterLink(link);
    }
    port.OnTxEmpty = [this](TCustomComPort*) { journal << "port TxEmpty"; };
    port.Open();
    port.WriteStr("xy");
    port.CallTxEmpty();
    EXPECT_EQ(journal, QStringList({"first TxBuf xy", "second TxBuf xy", "first TxActivity 1", "second TxActivity 1",
                                    "first TxActivity 0", "second TxActivity 0", "first TxEmpty", "second TxEmpty",
                                    "port TxEmpty"}));
    port.Close();
    port.UnregisterLink(&first);
    port.UnregisterLink(&second);
}

} // namespace
