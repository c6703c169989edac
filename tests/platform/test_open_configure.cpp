// Opening by name, and every line setting the component gives the layer.
#include "LayerHelpers.h"

#include <functional>

using namespace Comm;
using namespace PlatformTest;

namespace {

TEST(OpenByName, NamesOfNoPortFailWithTheSystemsCodeAndText)
{
    for (const std::string& name : {MissingPortName(), std::string(), std::string("no port \"here\" & | ^ %")}) {
        THandle handle = InvalidHandle;
        const TOsError error = Layer().CreateDevice(name, handle);
        EXPECT_NE(error, NoError) << "\"" << name << "\" opened";
        if (error == NoError) {
            Layer().CloseHandle(handle);
            continue;
        }
        const std::string text = Layer().ErrorText(error);
        EXPECT_FALSE(text.empty()) << "no text for error " << error;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << "the text keeps a line break: " << text;
    }
}

using OpenPort = PortTest;

TEST_F(OpenPort, ASecondOpenOfTheSamePortIsRefused)
{
    if (UnderWine())
        GTEST_SKIP() << WineOpensAPortTwice;
    THandle second = InvalidHandle;
    const TOsError error = Layer().CreateDevice(line->PortName(), second);
    EXPECT_NE(error, NoError) << "the port opened twice";
    if (error == NoError)
        Layer().CloseHandle(second);
    EXPECT_EQ(Layer().SetCommState(port, PlainDcb()), NoError) << "the refusal disturbed the first open";
}

TEST_F(OpenPort, AClosedPortOpensAgainAtOnce)
{
    ASSERT_EQ(ClosePort(), NoError);
    const TOsError error = Layer().CreateDevice(line->PortName(), port);
    EXPECT_EQ(error, NoError) << "reopening failed: " << Layer().ErrorText(error);
}

struct TSetting {
    const char* name;
    std::function<void(TDCB&)> change;
    const char* wineDiffers = nullptr;
};

const TSetting Accepted[] = {
    {"110 baud", [](TDCB& d) { d.BaudRate = 110; }},
    {"1200 baud", [](TDCB& d) { d.BaudRate = 1200; }},
    {"9600 baud", [](TDCB& d) { d.BaudRate = 9600; }},
    {"14400 baud", [](TDCB& d) { d.BaudRate = 14400; }},
    {"38400 baud", [](TDCB& d) { d.BaudRate = 38400; }},
    {"56000 baud", [](TDCB& d) { d.BaudRate = 56000; }},
    {"57600 baud", [](TDCB& d) { d.BaudRate = 57600; }},
    {"128000 baud", [](TDCB& d) { d.BaudRate = 128000; }},
    {"256000 baud", [](TDCB& d) { d.BaudRate = 256000; }},
    {"5 data bits, 1.5 stop bits", [](TDCB& d) { d.ByteSize = 5; d.StopBits = One5StopBits; }},
    {"6 data bits", [](TDCB& d) { d.ByteSize = 6; }},
    {"7 data bits", [](TDCB& d) { d.ByteSize = 7; }, WineRefusesSevenDataBits},
    {"2 stop bits", [](TDCB& d) { d.StopBits = TwoStopBits; }},
    {"odd parity", [](TDCB& d) { d.Parity = OddParity; d.Flags |= dcb_Parity; }},
    {"even parity", [](TDCB& d) { d.Parity = EvenParity; d.Flags |= dcb_Parity; }},
    {"mark parity", [](TDCB& d) { d.Parity = MarkParity; d.Flags |= dcb_Parity; }},
    {"space parity", [](TDCB& d) { d.Parity = SpaceParity; d.Flags |= dcb_Parity; }},
    {"parity errors replaced", [](TDCB& d) { d.Parity = EvenParity; d.Flags |= dcb_Parity | dcb_ErrorChar; d.ErrorChar = '?'; }},
    {"CTS/RTS handshake", [](TDCB& d) { d.Flags |= dcb_OutxCtsFlow | RtsControlHandshake; }},
    {"DSR/DTR handshake", [](TDCB& d) { d.Flags |= dcb_OutxDsrFlow | DtrControlHandshake | dcb_DsrSensivity; }},
    {"XON/XOFF both ways", [](TDCB& d) { d.Flags |= dcb_OutX | dcb_InX | dcb_TXContinueOnXoff; }},
    {"NULs discarded", [](TDCB& d) { d.Flags |= dcb_NullDiscard; }},
    {"event character", [](TDCB& d) { d.EvtChar = '\n'; }},
};

TEST_F(OpenPort, EveryLineSettingIsAccepted)
{
    for (const TSetting& setting : Accepted) {
        if (UnderWine() && setting.wineDiffers) {
            SkipRowUnderWine(setting.name, setting.wineDiffers);
            continue;
        }
        TDCB dcb = PlainDcb();
        setting.change(dcb);
        const TOsError error = Layer().SetCommState(port, dcb);
        EXPECT_EQ(error, NoError) << setting.name << " was refused: " << Layer().ErrorText(error);
    }
}

TEST_F(OpenPort, DtrAndRtsLineStatesAreAccepted)
{
    if (UnderWine())
        GTEST_SKIP() << WineHasNoModemLinesOnAPty;
    for (const std::uint32_t lines : {DtrControlEnable, RtsControlEnable, RtsControlToggle}) {
        TDCB dcb = PlainDcb();
        dcb.Flags |= lines;
        const TOsError error = Layer().SetCommState(port, dcb);
        EXPECT_EQ(error, NoError) << "flag word " << dcb.Flags << " was refused: " << Layer().ErrorText(error);
    }
}

const TSetting Refused[] = {
    {"1.5 stop bits with 8 data bits", [](TDCB& d) { d.StopBits = One5StopBits; }, WineAcceptsOneAndAHalfStopBits},
    {"9 data bits", [](TDCB& d) { d.ByteSize = 9; }},
    {"4 data bits", [](TDCB& d) { d.ByteSize = 4; }},
    {"parity 5", [](TDCB& d) { d.Parity = 5; }},
    {"stop bits 3", [](TDCB& d) { d.StopBits = 3; }},
};

TEST_F(OpenPort, SettingsNoUartCarriesAreRefused)
{
    for (const TSetting& setting : Refused) {
        if (UnderWine() && setting.wineDiffers) {
            SkipRowUnderWine(setting.name, setting.wineDiffers);
            continue;
        }
        TDCB dcb = PlainDcb();
        setting.change(dcb);
        const TOsError error = Layer().SetCommState(port, dcb);
        EXPECT_NE(error, NoError) << setting.name << " was accepted";
        if (error != NoError) {
            EXPECT_FALSE(Layer().ErrorText(error).empty()) << "no text for " << setting.name;
        }
    }
    EXPECT_EQ(Layer().SetCommState(port, PlainDcb()), NoError) << "a refused setting broke the port";
}

TEST_F(OpenPort, TimeoutsAndQueueSizesAreAccepted)
{
    const TCommTimeouts timeouts[] = {
        {0, 0, 0, 0, 0}, {MaxDword, 0, 0, 0, 0}, {MaxDword, MaxDword, 100, 0, 0}, {10, 2, 100, 2, 100}};
    for (const TCommTimeouts& t : timeouts)
        EXPECT_EQ(Layer().SetCommTimeouts(port, t), NoError) << "interval " << t.ReadIntervalTimeout;
    for (const std::uint32_t size : {64u, 1024u, 65536u})
        EXPECT_EQ(Layer().SetupComm(port, size, size), NoError) << "queues of " << size;
}

TEST(ErrorTexts, DifferentErrorsHaveDifferentTexts)
{
    THandle handle = InvalidHandle;
    const TOsError missing = Layer().CreateDevice(MissingPortName(), handle);
    ASSERT_NE(missing, NoError);
    const std::string missingText = Layer().ErrorText(missing);
    EXPECT_NE(missingText, Layer().ErrorText(InvalidParameter));
    EXPECT_NE(missingText, Layer().ErrorText(OperationAborted));
    EXPECT_FALSE(Layer().ErrorText(0x7FFF1234).empty()) << "a code the system does not know has no text";
}

} // namespace
