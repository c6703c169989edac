// Error codes, their messages and how EComPort builds its message.
#include "ComErrors.h"

#include <gtest/gtest.h>

namespace {

TEST(PortErrors, TableHoldsTheTwentyFourMessagesInCodeOrder)
{
    EXPECT_EQ(PortErrorMessage(ecOpenFailed), "Unable to open com port");
    EXPECT_EQ(PortErrorMessage(ecReadFailed), "ReadFile function failed");
    EXPECT_EQ(PortErrorMessage(ecTimeoutsFailed), "SetCommTimeouts failed");
    EXPECT_EQ(PortErrorMessage(ecLinkFailed), "Link (un)registration failed");
    EXPECT_EQ(PortErrorMessage(ecLedState), "Cannot change led state if ComPort is selected");
    EXPECT_EQ(PortErrorMessage(ecPortNotOpen), "Port Not Open");
    EXPECT_EQ(int(ecPortNotOpen), 24);
    EXPECT_EQ(int(ecRegistryError), 23);
    for (int code = 1; code <= PortErrorCount; ++code)
        EXPECT_FALSE(PortErrorMessage(code).isEmpty()) << "code " << code;
}

TEST(PortErrors, MessageWithOperatingSystemCode)
{
    const EComPort e(ecOpenFailed, 5);
    EXPECT_EQ(e.Code(), 1);
    EXPECT_EQ(e.WinCode(), 5);
    EXPECT_EQ(e.Message(), "Unable to open com port (Error: 5)");
    EXPECT_STREQ(e.what(), "Unable to open com port (Error: 5)");
}

TEST(PortErrors, MessageWithoutOperatingSystemCode)
{
    const EComPort e(ecPortNotOpen);
    EXPECT_EQ(e.Code(), 24);
    EXPECT_EQ(e.WinCode(), -1);
    EXPECT_EQ(e.Message(), "Port Not Open");
    EXPECT_EQ(e.HelpContext(), 0);
}

TEST(PortErrors, LargeCodesShowAsSignedNumbers)
{
    const EComPort e(ecReadFailed, static_cast<std::int32_t>(0x80000005u));
    EXPECT_EQ(e.Message(), "ReadFile function failed (Error: -2147483643)");
}

TEST(PortErrors, CodesOutsideTheTableHaveNoMessage)
{
    for (const int code : {0, 25, 99, 0xFFFF}) {
        EXPECT_EQ(PortErrorMessage(code), "") << "code " << code;
        EXPECT_EQ(EComPort(code).Message(), "") << "code " << code;
        EXPECT_EQ(EComPort(code, 5).Message(), " (Error: 5)") << "code " << code;
    }
}

TEST(PortErrors, IsAnExceptionOfTheComponent)
{
    try {
        throw EComPort(ecSetupFailed, 22);
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "SetupComm function failed (Error: 22)");
        return;
    }
    ADD_FAILURE() << "EComPort was not caught as the component's exception";
}

} // namespace
