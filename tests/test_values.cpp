// The setting values: every text table round trip, the from-text rules and
// the character conversions.
#include "ComValues.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace {

template <typename E>
void ExpectRoundTrips(int count, QString (*toText)(E), E (*fromText)(const QString&), const char* what)
{
    for (int i = 0; i < count; ++i) {
        const auto value = static_cast<E>(i);
        const QString text = toText(value);
        EXPECT_EQ(fromText(text), value) << what << " member " << i << " text " << text.toStdString();
        EXPECT_EQ(fromText(text.toLower()), value) << what << " lower case " << text.toStdString();
        EXPECT_EQ(fromText(text.toUpper()), value) << what << " upper case " << text.toStdString();
    }
}

TEST(ValueTexts, EveryMemberRoundTripsInAnyCase)
{
    ExpectRoundTrips<TBaudRate>(BaudRateCount, BaudRateText, BaudRateFromText, "baud rate");
    ExpectRoundTrips<TStopBits>(StopBitsCount, StopBitsText, StopBitsFromText, "stop bits");
    ExpectRoundTrips<TDataBits>(DataBitsCount, DataBitsText, DataBitsFromText, "data bits");
    ExpectRoundTrips<TParityBits>(ParityCount, ParityText, ParityFromText, "parity");
    ExpectRoundTrips<TFlowControl>(FlowControlCount, FlowControlText, FlowControlFromText, "flow control");
    ExpectRoundTrips<TDTRFlowControl>(DTRControlCount, DTRControlText, DTRControlFromText, "DTR");
    ExpectRoundTrips<TRTSFlowControl>(RTSControlCount, RTSControlText, RTSControlFromText, "RTS");
}

TEST(ValueTexts, TablesHoldTheExactTexts)
{
    const QStringList rates = {"Custom", "110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                               "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
    for (int i = 0; i < BaudRateCount; ++i)
        EXPECT_EQ(BaudRateText(static_cast<TBaudRate>(i)), rates[i]);
    EXPECT_EQ(StopBitsText(sbOneAndHalf), "1.5");
    EXPECT_EQ(ParityText(prSpace), "Space");
    EXPECT_EQ(FlowControlText(fcCustom), "Custom");
    EXPECT_EQ(RTSControlText(rtsToggle), "Toggle");
    EXPECT_EQ(DTRControlText(dtrHandshake), "Handshake");
    EXPECT_EQ(BaudRateDeviceValues[br57600], 57600u);
    EXPECT_EQ(BaudRateDeviceValues[brCustom], 0u);
}

TEST(ValueTexts, UnknownTextsGiveEachFunctionsDefault)
{
    EXPECT_EQ(BaudRateFromText("250000"), br9600);
    EXPECT_EQ(BaudRateFromText(" 57600"), br9600) << "no trimming";
    EXPECT_EQ(BaudRateFromText("custom"), brCustom);
    EXPECT_EQ(StopBitsFromText("1,5"), sbOne);
    EXPECT_EQ(DataBitsFromText("9"), dbEight);
    EXPECT_EQ(ParityFromText(""), prNone);
    EXPECT_EQ(FlowControlFromText(""), fcCustom);
    EXPECT_EQ(DTRControlFromText("on"), dtrDisable);
    EXPECT_EQ(RTSControlFromText("toggle "), rtsDisable);
    // Only ASCII letters are folded: a dotless capital I is not an i.
    EXPECT_EQ(ParityFromText(QString::fromUtf8("N\u00d8NE")), prNone);
    EXPECT_EQ(FlowControlFromText(QString::fromUtf8("softwar\u00e9")), fcCustom);
}

TEST(ValueTexts, YesNo)
{
    EXPECT_EQ(YesNoText(true), "Yes");
    EXPECT_EQ(YesNoText(false), "No");
    EXPECT_TRUE(YesNoFromText("yes"));
    EXPECT_TRUE(YesNoFromText("YES"));
    EXPECT_FALSE(YesNoFromText("Y"));
    EXPECT_FALSE(YesNoFromText("True"));
    EXPECT_FALSE(YesNoFromText("1"));
    EXPECT_FALSE(YesNoFromText(" yes"));
}

TEST(CharTexts, WrittenAsThemselvesOrAsDecimalCodes)
{
    struct Case {
        int code;
        const char* text;
    };
    const Case cases[] = {{0, "#0"}, {17, "#17"}, {19, "#19"}, {32, "#32"}, {33, "!"},
                          {65, "A"}, {127, "\x7f"}, {128, "#128"}, {255, "#255"}};
    for (const Case& c : cases)
        EXPECT_EQ(CharText(static_cast<char>(c.code)), QString::fromLatin1(c.text)) << "code " << c.code;
}

TEST(CharTexts, ReadBackByTheStrictRules)
{
    struct Case {
        const char* text;
        int code;
    };
    const Case cases[] = {
        {"", 0},      {"#0", 0},     {"#x", 0},    {"#", '#'},   {"#300", 44}, {"#-1", 255}, {"#+65", 65},
        {"AB", 'A'},  {" ", ' '},    {"#17", 17},  {"#1 ", 0},   {"# 1", 0},   {"#0x11", 0}, {"#$11", 0},
        {"#99999999999", 0},         {"#-", 0},    {"#17a", 0},  {"\x7f", 127}};
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<unsigned char>(CharFromText(QString::fromLatin1(c.text))), c.code)
            << "text '" << c.text << "'";
    }
}

TEST(CharTexts, EveryCodeRoundTrips)
{
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(static_cast<unsigned char>(CharFromText(CharText(static_cast<char>(code)))), code);
}

} // namespace
