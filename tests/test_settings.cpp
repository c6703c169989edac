// The four settings objects: defaults, setter rules, presets and copying.
#include "ComExceptions.h"
#include "ComSettings.h"
#include "CountingPort.h"

#include <gtest/gtest.h>

namespace {

TEST(Settings, NewObjectsHoldTheDefaults)
{
    const TComTimeouts t;
    EXPECT_EQ(t.ReadInterval(), -1);
    EXPECT_EQ(t.ReadTotalMultiplier(), 0);
    EXPECT_EQ(t.ReadTotalConstant(), 0);
    EXPECT_EQ(t.WriteTotalMultiplier(), 100);
    EXPECT_EQ(t.WriteTotalConstant(), 889);
    const TComFlowControl f;
    EXPECT_EQ(f.FlowControl(), fcNone);
    EXPECT_EQ(f.XonChar(), 17);
    EXPECT_EQ(f.XoffChar(), 19);
    EXPECT_EQ(f.ControlDTR(), dtrDisable);
    const TComParity p;
    EXPECT_EQ(p.Bits(), prNone);
    EXPECT_FALSE(p.Check() || p.Replace());
    EXPECT_EQ(p.ReplaceChar(), 0);
    const TComBuffer b;
    EXPECT_EQ(b.InputSize(), 1024);
    EXPECT_EQ(b.OutputSize(), 1024);
    EXPECT_EQ(b.ComPort(), nullptr);
}

TEST(Settings, EachSetterCallsItsPortStepOnlyOnAChange)
{
    TCountingPort port;
    port.Timeouts().SetReadTotalConstant(50);
    port.Timeouts().SetReadTotalConstant(50);
    EXPECT_EQ(port.TimeoutApplies, 1);
    port.FlowControl().SetXonChar('A');
    port.FlowControl().SetXonChar('A');
    port.Parity().SetCheck(true);
    port.Parity().SetCheck(true);
    EXPECT_EQ(port.ControlBlocks, 2);
    port.Buffer().SetOutputSize(2048);
    port.Buffer().SetOutputSize(2048);
    EXPECT_EQ(port.BufferApplies, 1);
    EXPECT_EQ(port.Total(), 4) << "no step crosses over to another kind";
}

TEST(Settings, QueueSizesStepOddPositiveValuesDown)
{
    struct Case {
        std::int32_t set;
        std::int32_t stored;
        int applies;
    };
    const Case cases[] = {{4097, 4096, 1}, {1025, 1024, 1}, {1024, 1024, 0}, {-3, -3, 1}, {1, 0, 1}, {-4, -4, 1}};
    for (const Case& c : cases) {
        TCountingPort port;
        port.Buffer().SetInputSize(c.set);
        EXPECT_EQ(port.Buffer().InputSize(), c.stored) << "set " << c.set;
        EXPECT_EQ(port.BufferApplies, c.applies) << "set " << c.set;
    }
}

TEST(Settings, PresetSetterResetsOnlyItsFourFields)
{
    TCountingPort port;
    TComFlowControl& f = port.FlowControl();
    f.SetControlRTS(rtsHandshake);
    f.SetControlDTR(dtrHandshake);
    f.SetOutDSRFlow(true);
    f.SetDSRSensitivity(true);
    f.SetTxContinueOnXoff(true);
    f.SetXonChar('x');
    f.SetXoffChar('y');
    port.ControlBlocks = 0;

    f.SetFlowControl(fcSoftware);
    EXPECT_EQ(port.ControlBlocks, 1);
    EXPECT_EQ(f.ControlRTS(), rtsDisable);
    EXPECT_FALSE(f.OutCTSFlow());
    EXPECT_TRUE(f.XonXoffIn() && f.XonXoffOut());
    EXPECT_EQ(f.FlowControl(), fcSoftware);
    // Never touched by a preset:
    EXPECT_EQ(f.ControlDTR(), dtrHandshake);
    EXPECT_TRUE(f.OutDSRFlow() && f.DSRSensitivity() && f.TxContinueOnXoff());
    EXPECT_EQ(f.XonChar(), 'x');
    EXPECT_EQ(f.XoffChar(), 'y');

    f.SetFlowControl(fcHardware);
    EXPECT_EQ(f.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(f.OutCTSFlow());
    EXPECT_FALSE(f.XonXoffIn() || f.XonXoffOut());
    EXPECT_EQ(f.FlowControl(), fcHardware);

    f.SetFlowControl(fcNone);
    EXPECT_EQ(f.FlowControl(), fcNone);
    EXPECT_EQ(port.ControlBlocks, 3);
}

TEST(Settings, CustomPresetChangesNothingButStillReapplies)
{
    TCountingPort port;
    TComFlowControl& f = port.FlowControl();
    f.SetControlRTS(rtsEnable);
    port.ControlBlocks = 0;
    f.SetFlowControl(fcCustom);
    EXPECT_EQ(f.ControlRTS(), rtsEnable);
    EXPECT_EQ(port.ControlBlocks, 1);
    f.SetFlowControl(fcNone);
    f.SetFlowControl(fcNone);
    EXPECT_EQ(port.ControlBlocks, 3) << "the preset setter never compares";
}

TEST(Settings, PresetGetterReadsTheFourFieldsInOrder)
{
    struct Case {
        TRTSFlowControl rts;
        bool cts, xin, xout;
        TFlowControl preset;
    };
    const Case cases[] = {
        {rtsHandshake, true, false, false, fcHardware}, {rtsDisable, false, true, true, fcSoftware},
        {rtsDisable, false, false, false, fcNone},      {rtsEnable, false, false, false, fcCustom},
        {rtsHandshake, true, false, true, fcCustom},    {rtsToggle, false, false, false, fcCustom},
        {rtsToggle, true, false, false, fcCustom},      {rtsDisable, true, false, false, fcCustom},
        {rtsDisable, false, true, false, fcCustom},     {rtsHandshake, false, false, false, fcCustom}};
    for (const Case& c : cases) {
        TComFlowControl f;
        f.SetControlRTS(c.rts);
        f.SetOutCTSFlow(c.cts);
        f.SetXonXoffIn(c.xin);
        f.SetXonXoffOut(c.xout);
        f.SetControlDTR(dtrHandshake);
        f.SetOutDSRFlow(true);
        EXPECT_EQ(f.FlowControl(), c.preset) << "rts " << int(c.rts) << " cts " << c.cts << " in " << c.xin
                                             << " out " << c.xout;
    }
}

TEST(Settings, CopyingCopiesValuesWithoutReapplyingOrTakingTheOwner)
{
    TCountingPort source, destination;
    source.Timeouts().SetReadInterval(10);
    source.Timeouts().SetWriteTotalConstant(5);
    source.FlowControl().SetFlowControl(fcHardware);
    source.FlowControl().SetXoffChar('z');
    source.Parity().SetBits(prMark);
    source.Parity().SetReplaceChar('?');
    source.Buffer().SetInputSize(4096);
    destination.ControlBlocks = destination.TimeoutApplies = destination.BufferApplies = 0;

    destination.Timeouts().Assign(source.Timeouts());
    destination.FlowControl().Assign(source.FlowControl());
    destination.Parity().Assign(source.Parity());
    destination.Buffer().Assign(source.Buffer());

    EXPECT_EQ(destination.Total(), 0);
    EXPECT_EQ(destination.Timeouts().ReadInterval(), 10);
    EXPECT_EQ(destination.Timeouts().WriteTotalConstant(), 5);
    EXPECT_EQ(destination.FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(destination.FlowControl().XoffChar(), 'z');
    EXPECT_EQ(destination.Parity().Bits(), prMark);
    EXPECT_EQ(destination.Parity().ReplaceChar(), '?');
    EXPECT_EQ(destination.Buffer().InputSize(), 4096);
    EXPECT_EQ(destination.Timeouts().ComPort(), &destination);

    TComTimeouts loose;
    loose.Assign(source.Timeouts());
    EXPECT_EQ(loose.ComPort(), nullptr);
    EXPECT_EQ(loose.ReadInterval(), 10);
}

TEST(Settings, CopyingBetweenClassesRaisesTheConversionError)
{
    TComTimeouts timeouts;
    TComParity parity;
    try {
        timeouts.Assign(parity);
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TComParity to a TComTimeouts");
    }
    TComBuffer buffer;
    EXPECT_THROW(buffer.Assign(timeouts), EConvertError);
    EXPECT_EQ(buffer.InputSize(), 1024);
}

} // namespace
