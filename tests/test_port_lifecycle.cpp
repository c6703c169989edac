// The port object on the fake device: defaults, the device records, opening,
// closing, re-applying and every failure path.
#include "ApplicationException.h"
#include "PortFixture.h"

#include <cerrno>

using namespace Comm;

namespace {

class PortLifecycle : public PortOnFakeDevice {
protected:
    PortLifecycle() { port.SetEvents({}); }
};

TEST(PortDefaults, NewPortHoldsItsInitialValues)
{
    TFakeCommLayer device;
    TCustomComPort port(nullptr, device);
    EXPECT_EQ(port.Port(), "/dev/ttyS0");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.StopBits(), sbOne);
    EXPECT_EQ(port.Events(), AllComEvents);
    EXPECT_EQ(port.Events().ToBits(), 0x03FF);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.EventThreadPriority(), 3);
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_EQ(port.StoredGroups(), TStoreGroups{sgBasic});
    EXPECT_EQ(port.Handle(), InvalidHandle);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Buffer().ComPort(), &port);
    EXPECT_EQ(port.Parity().ComPort(), &port);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_TRUE(device.Calls().empty()) << "a new port touches no device";
}

TEST_F(PortLifecycle, ControlBlockFieldByField)
{
    port.SetBaudRate(br57600);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbTwo);
    port.SetDiscardNull(true);
    port.SetEventChar('\n');
    port.Parity().SetBits(prEven);
    port.Parity().SetCheck(true);
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('?');
    port.FlowControl().SetFlowControl(fcHardware);
    port.FlowControl().SetOutDSRFlow(true);
    port.FlowControl().SetControlDTR(dtrHandshake);
    port.FlowControl().SetDSRSensitivity(true);
    port.FlowControl().SetTxContinueOnXoff(true);
    port.FlowControl().SetXonXoffOut(true);
    port.FlowControl().SetXonXoffIn(true);
    port.FlowControl().SetXonChar('a');
    port.FlowControl().SetXoffChar('b');
    port.Buffer().SetInputSize(4096);
    EXPECT_TRUE(device.States().empty()) << "a closed port applies nothing";

    port.Open();
    ASSERT_EQ(device.States().size(), 1u);
    const TDCB dcb = device.States().back();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 57600u);
    EXPECT_EQ(dcb.Flags, 0x0001u | 0x0002u | 0x0004u | 0x0008u | 0x0020u | 0x0040u | 0x0080u | 0x0100u | 0x0200u |
                             0x0400u | 0x0800u | 0x2000u);
    EXPECT_EQ(dcb.XonLim, 1024);
    EXPECT_EQ(dcb.XoffLim, 1024);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EvenParity);
    EXPECT_EQ(dcb.StopBits, TwoStopBits);
    EXPECT_EQ(dcb.XonChar, 'a');
    EXPECT_EQ(dcb.XoffChar, 'b');
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EofChar, 0);
    EXPECT_EQ(dcb.EvtChar, '\n');
    EXPECT_EQ(dcb.wReserved, 0);
    EXPECT_EQ(dcb.wReserved1, 0);
}

TEST_F(PortLifecycle, DefaultControlBlockAndFieldRules)
{
    port.Open();
    TDCB dcb = device.States().back();
    EXPECT_EQ(dcb.Flags, dcb_Binary) << "defaults set only fBinary";
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);

    // Replace without Check has no effect on the record.
    port.Parity().SetReplace(true);
    port.Parity().SetReplaceChar('#');
    dcb = device.States().back();
    EXPECT_EQ(dcb.Flags & (dcb_Parity | dcb_ErrorChar), 0u);
    EXPECT_EQ(dcb.ErrorChar, 0);

    // The custom rate is sent only with brCustom.
    port.SetCustomBaudRate(31250);
    EXPECT_EQ(device.States().back().BaudRate, 9600u);
    port.SetBaudRate(brCustom);
    EXPECT_EQ(device.States().back().BaudRate, 31250u);

    const std::pair<TRTSFlowControl, std::uint32_t> rts[] = {
        {rtsDisable, 0}, {rtsEnable, 0x1000}, {rtsHandshake, 0x2000}, {rtsToggle, 0x3000}};
    for (const auto& [value, bits] : rts) {
        port.FlowControl().SetControlRTS(value);
        EXPECT_EQ(device.States().back().Flags & dcb_RtsControlMask, bits);
    }
    port.FlowControl().SetControlDTR(dtrEnable);
    EXPECT_EQ(device.States().back().Flags & dcb_DtrControlMask, 0x0010u);
    port.SetStopBits(sbOneAndHalf);
    EXPECT_EQ(device.States().back().StopBits, One5StopBits);
    port.Parity().SetBits(prSpace);
    EXPECT_EQ(device.States().back().Parity, SpaceParity);
    port.SetDataBits(dbFive);
    EXPECT_EQ(device.States().back().ByteSize, 5);
}

TEST_F(PortLifecycle, TimeoutsAndQueueSizesReachTheDevice)
{
    port.Timeouts().SetReadTotalMultiplier(-1);
    port.Timeouts().SetWriteTotalConstant(7);
    port.Buffer().SetOutputSize(2048);
    port.Open();
    const TCommTimeouts t = device.TimeoutRecords().back();
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 7u);
    EXPECT_EQ(device.QueueSizes().back(), std::make_pair(1024u, 2048u));

    const std::vector<std::string> calls = device.Calls();
    const std::vector<std::string> expected = {"CreateDevice", "SetupComm", "SetCommState", "SetCommTimeouts",
                                               "ClearCommError"};
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4),
              std::vector<std::string>(expected.begin(), expected.begin() + 4))
        << "opening applies queue sizes, then the control block, then the timeouts";

    port.Timeouts().SetReadTotalConstant(300);
    EXPECT_EQ(device.TimeoutRecords().back().ReadTotalTimeoutConstant, 300u);
    port.Buffer().SetInputSize(8192);
    EXPECT_EQ(device.QueueSizes().back().first, 8192u);
}

TEST_F(PortLifecycle, OpenAndCloseRunTheirNotificationsOnceInOrder)
{
    RecordNotifications();
    device.SetModemStatus(MsCtsOn | MsRlsdOn);
    port.Open();
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(device.OpenedPaths(), std::vector<std::string>{"/dev/ttyFAKE0"});
    port.Close();
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), InvalidHandle);
    EXPECT_EQ(journal, QStringList({"BeforeOpen", "AfterOpen", "CTS 1", "DSR 0", "RLSD 1", "CTS 0", "DSR 0",
                                    "RLSD 0", "BeforeClose", "AfterClose"}));
    EXPECT_EQ(device.Purges(), std::vector<std::uint32_t>{PurgeTxAbort | PurgeRxAbort});
    EXPECT_EQ(device.OpenDevices(), 0u);
}

TEST_F(PortLifecycle, MissingDeviceRaisesOpenFailedWithTheSystemCode)
{
    RecordNotifications();
    device.SetMissing("/dev/ttyFAKE0");
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecOpenFailed);
        EXPECT_EQ(e.WinCode(), ENOENT);
        EXPECT_EQ(e.Message(), "Unable to open com port (Error: 2)");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), InvalidHandle);
    EXPECT_EQ(journal, QStringList{"BeforeOpen"});
}

TEST_F(PortLifecycle, WithHandlerAFailedOpenStopsAndLeavesThePortClosed)
{
    RecordNotifications();
    RecordErrors();
    device.Fail("CreateDevice", EACCES);
    port.Open();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Code, ecOpenFailed);
    EXPECT_EQ(errors[0].Message, "Unable to open com port");
    EXPECT_EQ(errors[0].OsError, EACCES);
    EXPECT_EQ(errors[0].OsMessage, QString("System Error.  Code: 13.\r\nPermission denied"));
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(journal, QStringList{"BeforeOpen"});
    const auto calls = device.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetCommState"), 0) << "nothing applied to a missing device";
}

TEST_F(PortLifecycle, RefusedControlBlockDuringOpenReleasesTheHandle)
{
    RecordNotifications();
    device.Fail("SetCommState", EINVAL);
    try {
        port.Open();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecSetStateFailed);
        EXPECT_EQ(e.WinCode(), EINVAL);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), InvalidHandle);
    EXPECT_EQ(device.OpenDevices(), 0u);
    EXPECT_EQ(journal, QStringList{"BeforeOpen"});
}

TEST_F(PortLifecycle, WithHandlerEachFailingApplyStepIsReportedAndOpenGoesOn)
{
    RecordNotifications();
    RecordErrors();
    device.Fail("SetupComm", EINVAL);
    device.Fail("SetCommTimeouts", 31);
    port.Open();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].Code, ecSetupFailed);
    EXPECT_EQ(errors[1].Code, ecTimeoutsFailed);
    EXPECT_EQ(errors[1].Message, "SetCommTimeouts failed");
    EXPECT_EQ(errors[1].OsError, 31);
    EXPECT_TRUE(errors[1].OsMessage.startsWith("System Error.  Code: 31.\r\n"));
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(journal.contains("AfterOpen"));
}

TEST_F(PortLifecycle, ReportWithoutSystemCodeGivesAnEmptySystemText)
{
    RecordErrors();
    port.ReportError(ecInvalidAsync, 0);
    port.ReportError(ecInvalidAsync, -5);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].OsMessage, "");
    EXPECT_LE(errors[1].OsError, 0);
    EXPECT_EQ(errors[1].Message, "Invalid Async parameter");
    port.ReportError(ecReadFailed, std::int64_t{1} << 32);
    EXPECT_EQ(errors.back().OsMessage, "A call to an OS function failed");
}

TEST_F(PortLifecycle, ReportOfACodeOutsideTheTableCarriesAnEmptyMessage)
{
    try {
        port.ReportError(0xFFFF, 5);
        FAIL() << "nothing raised";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 0xFFFF);
        EXPECT_EQ(e.Message(), " (Error: 5)");
    }
    RecordErrors();
    port.ReportError(25, 0);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Code, 25);
    EXPECT_EQ(errors[0].Message, "");
}

TEST_F(PortLifecycle, FailingSetterOnAnOpenPortKeepsTheValueAndThePortOpen)
{
    port.Open();
    device.Fail("SetCommState", EIO);
    EXPECT_THROW(port.SetBaudRate(br115200), EComPort);
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_TRUE(port.Connected());
    device.ClearFailures();
    port.SetDataBits(dbSeven);
    EXPECT_EQ(device.States().back().BaudRate, 115200u) << "the stored value reaches the device with the next apply";
}

TEST_F(PortLifecycle, FailedAbortInCloseLeavesThePortOpen)
{
    RecordNotifications();
    port.Open();
    journal.clear();
    device.Fail("PurgeComm", EIO, 1);
    try {
        port.Close();
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), ecPurgeFailed);
    }
    EXPECT_TRUE(port.Connected());
    EXPECT_FALSE(journal.contains("AfterClose"));
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortLifecycle, FailedCloseHandleIsSilent)
{
    port.Open();
    const THandle handle = port.Handle();
    device.Fail("CloseDevice", EIO, 1);
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), handle);
}

TEST_F(PortLifecycle, NewPortNameReopensAnOpenPortOnTheNewDevice)
{
    RecordNotifications();
    port.SetPortName("/dev/ttyFAKE0");
    port.Open();
    journal.clear();
    port.SetPortName("/dev/ttyFAKE0");
    EXPECT_TRUE(journal.isEmpty()) << "the same name does nothing";
    port.SetPortName("/dev/ttyFAKE1");
    EXPECT_EQ(journal, QStringList({"CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "AfterClose", "BeforeOpen", "AfterOpen",
                                    "CTS 0", "DSR 0", "RLSD 0"}));
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(device.OpenedPaths().back(), "/dev/ttyFAKE1");
    port.SetPortName("/dev/TTYFAKE1");
    EXPECT_EQ(device.OpenedPaths().back(), "/dev/TTYFAKE1") << "names compare with case";
}

TEST(PortDestruction, DestroyingAnOpenPortClosesIt)
{
    TFakeCommLayer device;
    QStringList journal;
    {
        TCustomComPort port(nullptr, device);
        port.SetEvents({});
        port.OnBeforeClose = [&](TCustomComPort*) { journal << "BeforeClose"; };
        port.OnAfterClose = [&](TCustomComPort*) { journal << "AfterClose"; };
        port.Open();
    }
    EXPECT_EQ(journal, QStringList({"BeforeClose", "AfterClose"}));
    EXPECT_EQ(device.OpenDevices(), 0u);
}

TEST(PortLoading, ConnectedFromALayoutOpensWhenLoadingEnds)
{
    TFakeCommLayer device;
    TCustomComPort* port = nullptr;
    {
        TLayoutLoading layout;
        port = new TCustomComPort(nullptr, device);
        port->SetEvents({});
        port->SetConnected(true);
        port->SetBaudRate(br19200);
        EXPECT_TRUE(port->IsLoading());
        EXPECT_TRUE(device.Calls().empty()) << "nothing is applied while loading";
    }
    EXPECT_FALSE(port->IsLoading());
    EXPECT_TRUE(port->Connected());
    EXPECT_EQ(device.States().back().BaudRate, 19200u);
    delete port;
}

TEST(PortLoading, MissingDeviceShowsTheErrorOnceAndFinishesClosed)
{
    TFakeCommLayer device;
    device.SetMissing("/dev/ttyS0");
    QStringList shown;
    const TApplicationExceptionHandler previous =
        SetApplicationExceptionHandler([&](QObject*, const char* message) { shown << message; });
    TCustomComPort* port = nullptr;
    {
        TLayoutLoading layout;
        port = new TCustomComPort(nullptr, device);
        port->SetConnected(true);
    }
    SetApplicationExceptionHandler(previous);
    EXPECT_EQ(shown, QStringList{"Unable to open com port (Error: 2)"});
    EXPECT_FALSE(port->Connected());
    EXPECT_FALSE(port->IsLoading());
    delete port;
}

TEST(PortDesigning, DesigningSuppressesEveryDeviceAction)
{
    TFakeCommLayer device;
    TCustomComPort port(nullptr, device);
    port.SetDesigning(true);
    port.Open();
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(device.Calls().empty());
}

TEST_F(PortLifecycle, SettingsForTheEventThreadAreRefusedWhileOpen)
{
    port.Open();
    EXPECT_THROW(port.SetSyncMethod(smNone), EComPort);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    RecordErrors();
    port.SetEvents(AllComEvents);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].Code, ecSetWhileConnected);
}

} // namespace
