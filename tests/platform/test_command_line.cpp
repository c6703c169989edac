// Command lines for Windows programs: every argument read back whole, by
// the splitting the tool uses for its parameter line and, on Windows, by the
// system's own CommandLineToArgvW.
#include "CommandLine.h"
#include "CommandLineQuote.h"
#include "FlashParameters.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "WideText.h"

#include <windows.h>
#endif

namespace {

struct TCase {
    const char* name;
    std::vector<std::string> arguments;
};

const TCase Cases[] = {
    {"a plain flash line", {"-p", "m1284p", "-c", "arduino", "-P", "COM3", "-b", "115200", "-U", "flash:w:fw.hex:i"}},
    {"a name with a space", {"-P", "COM 3"}},
    {"a device path", {"-P", "\\\\.\\COM12"}},
    {"a quote inside", {"a\"b"}},
    {"backslashes before a quote", {"a\\\"b", "a\\\\\"b"}},
    {"trailing backslashes", {"trailing\\", "trailing\\\\", "with space\\"}},
    {"empty and blank", {"", " ", "\t"}},
    {"lone quote and backslash", {"\"", "\\", "\"\""}},
    {"shell characters", {"%PATH%", "^&|<>", "a&b", "100%", "^"}},
    {"a tab inside", {"tab\there"}},
    {"accents", {"port-é", "Mise à jour"}},
    {"a hostile port name", {"-P", "COM3\" -U flash:w:evil.hex:i \"", "-b"}},
};

TEST(CommandLine, EveryArgumentIsReadBackWholeByTheToolsSplitting)
{
    for (const TCase& c : Cases) {
        const std::string line = Platform::JoinCommandLine("C:\\Program Files\\avrdude.exe", c.arguments);
        std::vector<std::string> expected = {"C:\\Program Files\\avrdude.exe"};
        expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(SplitCommandLine(line), expected) << c.name << ": " << line;
    }
}

TEST(CommandLine, PlainArgumentsStayAsTheyAre)
{
    EXPECT_EQ(Platform::QuoteArgument("flash:w:fw.hex:i"), "flash:w:fw.hex:i");
    EXPECT_EQ(Platform::QuoteArgument("C:\\dir\\"), "C:\\dir\\") << "backslashes not before a quote are literal";
    EXPECT_EQ(Platform::QuoteArgument("a b\\"), "\"a b\\\\\"");
    EXPECT_EQ(Platform::QuoteArgument(""), "\"\"");
}

#ifdef _WIN32
TEST(CommandLine, EveryArgumentIsReadBackWholeByCommandLineToArgvW)
{
    for (const TCase& c : Cases) {
        const std::string line = Platform::JoinCommandLine("C:\\Program Files\\avrdude.exe", c.arguments);
        int count = 0;
        wchar_t** words = CommandLineToArgvW(Platform::WideFromUtf8(line).c_str(), &count);
        ASSERT_TRUE(words) << c.name;
        std::vector<std::string> read;
        for (int i = 0; i < count; ++i)
            read.push_back(Platform::Utf8FromWide(words[i]));
        LocalFree(words);
        std::vector<std::string> expected = {"C:\\Program Files\\avrdude.exe"};
        expected.insert(expected.end(), c.arguments.begin(), c.arguments.end());
        EXPECT_EQ(read, expected) << c.name << ": " << line;
    }
}
#endif


// The parameters both windows pass: the image by exact speed text, and the
// flasher's arguments as the line splits, the port whole.
TEST(FlashParameters, PiecesAndImageBySpeed)
{
    using Args = std::vector<std::string>;
    const struct {
        const char* port;
        const char* speed;
        Args arguments;
    } cases[] = {
        {"COM5", "57600", {"-c", "arduino", "-p", "m328p", "-P", "COM5", "-b", "57600", "-U", "flash:w:datalogger_new.hex:i"}},
        {"COM1", "28800", {"-c", "arduino", "-p", "m328p", "-P", "COM1", "-b", "28800", "-U", "flash:w:datalogger_old.hex:i"}},
        {"COM1", "", {"-c", "arduino", "-p", "m328p", "-P", "COM1", "-b", "-U", "flash:w::i"}},
        {"\\\\.\\CNCA0", "2880", {"-c", "arduino", "-p", "m328p", "-P", "\\\\.\\CNCA0", "-b", "2880", "-U", "flash:w::i"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommandLine(Platform::FlashParameterLine(c.port, c.speed)), c.arguments) << c.port << c.speed;
    EXPECT_EQ(Platform::FlashParameterLine("COM9", "57600"),
              " -c arduino -p m328p -P COM9 -b 57600 -U flash:w:datalogger_new.hex:i");
    for (const char* other : {"57600 ", " 28800", "", "9600", "\xef\xbc\x92" "8800"})
        EXPECT_EQ(Platform::FirmwareImageForSpeed(other), "") << other;
}

} // namespace
