// The monitor's parts that need no window: the text and hex forms of the
// received bytes, what the user types to send, the command line, the same-
// device rule and the log.
#include "ComPortDetails.h"
#include "HexFormatter.h"
#include "LogWriter.h"
#include "MonitorOptions.h"
#include "Sender.h"
#include "StreamDecoder.h"

#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QDateTime T0 = QDateTime::fromString(QStringLiteral("2026-03-04T05:06:07.089"), Qt::ISODateWithMs);

struct DecodeCase {
    const char* name;
    // The bytes as they arrive, one entry a read.
    std::vector<QByteArray> reads;
    QStringList lines;
    QString open;
};

class Decoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, ShowsEveryByteAsTextOrEscape)
{
    TStreamDecoder decoder;
    for (const QByteArray& read : GetParam().reads)
        decoder.Feed(read, T0);
    QStringList lines;
    for (const TStreamLine& line : decoder.TakeLines())
        lines << line.Text;
    EXPECT_EQ(lines, GetParam().lines);
    EXPECT_EQ(decoder.OpenLine().Text, GetParam().open);
}

INSTANTIATE_TEST_SUITE_P(
    Monitor, Decoding,
    testing::Values(DecodeCase{"LineFeed", {"one\ntwo\n"}, {"one", "two"}, ""},
                    DecodeCase{"CarriageReturnLineFeed", {"one\r\ntwo\r\n"}, {"one", "two"}, ""},
                    DecodeCase{"CrLfSplitBetweenReads", {"one\r", "\ntwo"}, {"one"}, "two"},
                    DecodeCase{"LoneCarriageReturn", {"a\rb\r"}, {"a", "b"}, ""},
                    DecodeCase{"EmptyLines", {"\n\n"}, {"", ""}, ""},
                    DecodeCase{"Utf8", {"t=21\xC2\xB0" "C\n"}, {QString::fromUtf8("t=21\u00B0C")}, ""},
                    DecodeCase{"Utf8SplitBetweenReads", {"caf\xC3", "\xA9\n"}, {QString::fromUtf8("caf\u00E9")}, ""},
                    DecodeCase{"InvalidByte", {"a\xFF" "b\n"}, {"a\\xFFb"}, ""},
                    DecodeCase{"ControlCharacters", {QByteArray("\x01\x00\x7F", 3) + "\n"}, {"\\x01\\x00\\x7F"}, ""},
                    DecodeCase{"CutSequenceThenText", {"\xC3" "A\n"}, {"\\xC3A"}, ""},
                    DecodeCase{"Overlong", {"\xC0\xAF\n"}, {"\\xC0\\xAF"}, ""},
                    DecodeCase{"Surrogate", {"\xED\xA0\x80\n"}, {"\\xED\\xA0\\x80"}, ""},
                    DecodeCase{"TabKept", {"a\tb"}, {}, "a\tb"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

TEST(MonitorDecoding, BreaksALineThatNeverEnds)
{
    TStreamDecoder decoder;
    decoder.Feed(QByteArray(TStreamDecoder::MaxLineLength + 5, 'x'), T0);
    const QList<TStreamLine> lines = decoder.TakeLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].Text.size(), TStreamDecoder::MaxLineLength);
    EXPECT_EQ(decoder.OpenLine().Text, QString(5, QLatin1Char('x')));
}

TEST(MonitorDecoding, ALineKeepsTheTimeOfItsFirstByteAndEndingShowsACutSequence)
{
    TStreamDecoder decoder;
    decoder.Feed("he", T0);
    decoder.Feed("llo\n\xE2\x82", T0.addMSecs(40));
    const QList<TStreamLine> lines = decoder.TakeLines();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].Time, T0);
    EXPECT_EQ(LineTimestamp(lines[0].Time), "2026-03-04 05:06:07.089");
    EXPECT_TRUE(decoder.EndOpenLine());
    EXPECT_EQ(decoder.TakeLines().value(0).Text, "\\xE2\\x82");
    EXPECT_FALSE(decoder.EndOpenLine());
}

TEST(MonitorHex, RowsCarryTheirOffsetAcrossReads)
{
    THexFormatter hex;
    EXPECT_TRUE(hex.Feed("Hello,\r\n").isEmpty());
    EXPECT_EQ(hex.OpenRow(), "00000000  48 65 6C 6C 6F 2C 0D 0A                           |Hello,..|");
    const QStringList rows = hex.Feed(QByteArray("board\xFF\x01 v2.1\n!", 14));
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0], "00000000  48 65 6C 6C 6F 2C 0D 0A  62 6F 61 72 64 FF 01 20  |Hello,..board.. |");
    EXPECT_EQ(hex.OpenRow(), "00000010  76 32 2E 31 0A 21                                 |v2.1.!|");
}

struct HexCase {
    const char* text;
    std::optional<QByteArray> bytes;
};

TEST(MonitorSending, HexBytesAsTyped)
{
    const std::vector<HexCase> cases = {
        {"48 65 0d0a", QByteArray("He\r\n")},
        {"0x48,0x65", QByteArray("He")},
        {"  ", QByteArray()},
        {"FF00", QByteArray("\xFF\x00", 2)},
        {"4", std::nullopt},
        {"48 6", std::nullopt},
        {"4 8", std::nullopt},
        {"zz", std::nullopt},
    };
    for (const HexCase& c : cases) {
        QString error;
        const std::optional<QByteArray> bytes = ParseHexBytes(QString::fromLatin1(c.text), &error);
        EXPECT_EQ(bytes, c.bytes) << c.text;
        EXPECT_EQ(error.isEmpty(), c.bytes.has_value()) << c.text;
    }
}

TEST(MonitorSending, LineEndings)
{
    EXPECT_EQ(WithLineEnding(QStringLiteral("v?"), leNone), "v?");
    EXPECT_EQ(WithLineEnding(QStringLiteral("v?"), leLF), "v?\n");
    EXPECT_EQ(WithLineEnding(QStringLiteral("v?"), leCR), "v?\r");
    EXPECT_EQ(WithLineEnding(QStringLiteral("\u00E9"), leCRLF), "\xC3\xA9\r\n");
}

struct OptionCase {
    QStringList arguments;
    bool accepted;
};

TEST(MonitorOptions, AcceptsItsOptionsAndRefusesOthers)
{
    const std::vector<OptionCase> cases = {
        {{}, true},
        {{"--port", "ttyUSB0", "--speed", "115200", "--log", "x.log", "--hex", "--timestamps", "--no-reset"}, true},
        {{"--flash", "57600"}, true},
        {{"--flash", "28800"}, true},
        {{"--flash", "9600"}, false},
        {{"--speed", "fast"}, false},
        {{"--speed", "-1"}, false},
        {{"--port"}, false},
        {{"--log", ""}, false},
        {{"--colour"}, false},
        {{"ttyUSB0"}, false},
    };
    for (const OptionCase& c : cases) {
        TMonitorOptions options;
        QString error;
        EXPECT_EQ(ParseMonitorOptions(c.arguments, options, &error), c.accepted) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(error.isEmpty(), c.accepted) << c.arguments.join(' ').toStdString();
    }
    TMonitorOptions options;
    QString error;
    ASSERT_TRUE(ParseMonitorOptions({"--port", "/dev/serial/by-id/usb-x", "--speed", "57600", "--no-reset"}, options,
                                    &error));
    EXPECT_EQ(options.Port, "/dev/serial/by-id/usb-x");
    EXPECT_EQ(options.Speed, 57600);
    EXPECT_TRUE(options.NoReset);
    EXPECT_FALSE(options.Hex);
}

TPortDetails Device(const QString& name, const QString& serial, const QString& location)
{
    TPortDetails port;
    port.Name = name;
    port.SerialNumber = serial;
    port.Location = location;
    return port;
}

TEST(MonitorSameDevice, TheSerialNumberThenTheLocationThenTheName)
{
    const TPortDetails wanted = Device("ttyUSB0", "A1", "1-1");
    // Another board took the old name; the wanted one came back elsewhere.
    const QList<TPortDetails> ports = {Device("ttyUSB0", "B2", "1-1"), Device("ttyUSB1", "A1", "1-2")};
    EXPECT_EQ(FindSameDevice(ports, wanted), 1);
    EXPECT_EQ(FindSameDevice({Device("ttyUSB0", "B2", "1-1")}, wanted), -1);
    EXPECT_EQ(FindSameDevice({Device("ttyUSB3", "", "1-1")}, Device("ttyUSB0", "", "1-1")), 0);
    EXPECT_EQ(FindSameDevice({Device("ttyUSB3", "", "1-2")}, Device("ttyUSB0", "", "1-1")), -1);
    EXPECT_EQ(FindSameDevice({Device("ttyS1", "", ""), Device("ttyS0", "", "")}, Device("ttyS0", "", "")), 1);
    // One adapter with two ports: only the name tells them apart.
    EXPECT_EQ(FindSameDevice({Device("ttyUSB4", "A1", ""), Device("ttyUSB5", "A1", "")}, wanted), -1);
}

TEST(MonitorLog, LinesAndNotesWithTheirTimesFlushedAsWritten)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("board.log");
    TLogWriter log;
    ASSERT_TRUE(log.Open(path));
    log.WriteLines({{T0, QStringLiteral("ZORBEL v2")}});
    log.WriteNote(T0.addSecs(1), QStringLiteral("gone"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "2026-03-04 05:06:07.089 ZORBEL v2\n2026-03-04 05:06:08.089 --- gone\n");
}

TEST(MonitorLog, AFileThatCannotBeWrittenIsReportedOnce)
{
    QTemporaryDir dir;
    TLogWriter log;
    QSignalSpy failed(&log, &TLogWriter::Failed);
    EXPECT_FALSE(log.Open(dir.filePath("no/such/folder/board.log")));
    log.WriteLines({{T0, QStringLiteral("a")}});
    log.WriteNote(T0, QStringLiteral("b"));
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0][0].toString().contains("No such file or directory")) << failed[0][0].toString().toStdString();
    EXPECT_FALSE(log.Active());
}

} // namespace
