// Starting the flasher on Windows, with a stand-in avrdude.exe built beside
// the suite that records the arguments it received.
#include "CommandLineQuote.h"
#include "FlashStart.h"
#include "LayerHelpers.h"
#include "SystemError.h"
#include "WideText.h"

#include <windows.h>

#include <fstream>
#include <functional>
#include <sstream>

using namespace PlatformTest;

namespace {

const std::vector<std::string> HostileLine = {
    "-P", "COM3\" -U flash:w:evil.hex:i \"", "-b", "115 200", "%PATH%", "^&|<>", "trailing\\", "", "Mise à jour"};

std::string Recorded(const std::vector<std::string>& arguments)
{
    std::string record;
    for (const std::string& argument : arguments)
        record += std::to_string(argument.size()) + ":" + argument;
    return record;
}

// The folder the suite runs from, where the stand-in and the runner lie.
std::string SuiteFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/"));
    return Platform::Utf8FromWide(folder);
}

class FlashStart : public ::testing::Test {
protected:
    void SetUp() override
    {
        record = SuiteFolder() + "\\standin-record.txt";
        DeleteFileW(Platform::WideFromUtf8(record).c_str());
        done = CreateEventW(nullptr, TRUE, FALSE, L"ZorbelStandInDone");
        ASSERT_TRUE(done);
        SetEnvironmentVariableW(L"ZORBEL_STANDIN_RECORD", Platform::WideFromUtf8(record).c_str());
        SetEnvironmentVariableW(L"ZORBEL_STANDIN_DONE", L"ZorbelStandInDone");
        SetEnvironmentVariableW(L"ZORBEL_STANDIN_EXIT", nullptr);
        SetEnvironmentVariableW(L"ZORBEL_STANDIN_HOLD", nullptr);
    }
    void TearDown() override { CloseHandle(done); }

    std::string ReadRecord() const
    {
        std::ifstream file(record, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::string record;
    HANDLE done = nullptr;
};

TEST_F(FlashStart, TheFlasherIsFoundAndGetsEveryArgumentWhole)
{
    ASSERT_EQ(Platform::StartFlasher("", Platform::FlasherFileName, HostileLine, true), 0u);
    ASSERT_EQ(WaitForSingleObject(done, static_cast<DWORD>(Patience.count())), WAIT_OBJECT_0)
        << "the stand-in flasher did not run";
    EXPECT_EQ(ReadRecord(), Recorded(HostileLine));
}

TEST_F(FlashStart, AMissingFlasherFailsWithTheSystemsError)
{
    const Platform::TSystemError error = Platform::StartFlasher("", "zorbel-no-such-flasher.exe", {}, true);
    EXPECT_EQ(error, static_cast<Platform::TSystemError>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(Platform::SystemErrorText(error).empty());
}

// The runner in this console, its input and output on pipes: Enter is
// already waiting, and its last line is read back. With interrupt, the
// runner starts in a process group of its own, and interrupt runs once the
// flasher (the stand-in) has started.
struct TRunnerOutcome {
    DWORD exitCode = 0;
    std::string output;
};

TRunnerOutcome RunRunner(const std::vector<std::string>& arguments,
                         const std::function<void(DWORD runnerGroup)>& interrupt = {})
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    CreatePipe(&inRead, &inWrite, &inherit, 0);
    CreatePipe(&outRead, &outWrite, &inherit, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    DWORD written = 0;
    WriteFile(inWrite, "\n", 1, &written, nullptr);
    CloseHandle(inWrite);
    const std::string runner = SuiteFolder() + "\\zorbel-flash-run.exe";
    std::wstring line = Platform::WideFromUtf8(Platform::JoinCommandLine(runner, arguments));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    PROCESS_INFORMATION process{};
    TRunnerOutcome outcome;
    const BOOL started =
        CreateProcessW(Platform::WideFromUtf8(runner).c_str(), line.data(), nullptr, nullptr, TRUE,
                       interrupt ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr, &startup, &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    EXPECT_TRUE(started) << "the runner did not start: " << Platform::SystemErrorText(GetLastError());
    if (started && interrupt)
        interrupt(process.dwProcessId);
    char buffer[4096];
    DWORD read = 0;
    while (started && ReadFile(outRead, buffer, sizeof buffer, &read, nullptr) && read > 0)
        outcome.output.append(buffer, read);
    CloseHandle(outRead);
    if (started) {
        EXPECT_EQ(WaitForSingleObject(process.hProcess, static_cast<DWORD>(Patience.count())), WAIT_OBJECT_0);
        GetExitCodeProcess(process.hProcess, &outcome.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    return outcome;
}

TEST_F(FlashStart, TheRunnerPassesEveryArgumentAndSaysTheUpdateSucceeded)
{
    std::vector<std::string> arguments = {SuiteFolder() + "\\avrdude.exe"};
    arguments.insert(arguments.end(), HostileLine.begin(), HostileLine.end());
    const TRunnerOutcome outcome = RunRunner(arguments);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_NE(outcome.output.find("Mise à jour réussie (code de sortie 0). "), std::string::npos) << outcome.output;
    EXPECT_NE(outcome.output.find("Appuyez sur Entrée pour fermer cette fenêtre."), std::string::npos);
    EXPECT_EQ(ReadRecord(), Recorded(HostileLine));
}

TEST_F(FlashStart, TheRunnerReportsAFailedUpdateWithItsCode)
{
    SetEnvironmentVariableW(L"ZORBEL_STANDIN_EXIT", L"3");
    const TRunnerOutcome outcome = RunRunner({SuiteFolder() + "\\avrdude.exe", "-P", "COM3"});
    EXPECT_EQ(outcome.exitCode, 3u);
    EXPECT_NE(outcome.output.find("Échec de la mise à jour (code de sortie 3). "), std::string::npos) << outcome.output;
}

TEST_F(FlashStart, TheRunnerReportsAFlasherThatCannotStart)
{
    const TRunnerOutcome outcome = RunRunner({SuiteFolder() + "\\zorbel-no-such-flasher.exe"});
    EXPECT_EQ(outcome.exitCode, 127u);
    EXPECT_NE(outcome.output.find("Échec de la mise à jour : impossible de lancer "), std::string::npos)
        << outcome.output;
}

// The console the runner shares with the suite: one of the suite's own,
// made once, whatever the suite was started with (under Wine the console a
// suite inherits takes no events when its output is a file or a pipe, each
// in its own way). Making another takes Wine seconds.
bool SuiteConsole()
{
    static const bool made = (FreeConsole(), AllocConsole());
    return made;
}

// Ctrl-C or Ctrl-Break in the console while the flasher works: the flasher
// ends as the console's default handling ends it, and the runner, still
// there, tells that end.
class RunnerInterrupted : public FlashStart, public ::testing::WithParamInterface<DWORD> {};

TEST_P(RunnerInterrupted, TheRunnerStaysAndReportsTheFlashersEnd)
{
    if (!SuiteConsole())
        GTEST_SKIP() << "the suite has no console to send Ctrl-C in: " << Platform::SystemErrorText(GetLastError());
    // The stand-in works until the console's event ends it, or until it is
    // let go when the event cannot be sent.
    const HANDLE hold = CreateEventW(nullptr, TRUE, FALSE, L"ZorbelStandInHold");
    ASSERT_TRUE(hold);
    SetEnvironmentVariableW(L"ZORBEL_STANDIN_HOLD", L"ZorbelStandInHold");
    std::string skipped;
    const TRunnerOutcome outcome =
        RunRunner({SuiteFolder() + "\\avrdude.exe", "-P", "COM3"}, [&](DWORD runnerGroup) {
            ASSERT_EQ(WaitForSingleObject(done, static_cast<DWORD>(Patience.count())), WAIT_OBJECT_0)
                << "the stand-in flasher did not run";
            if (!GenerateConsoleCtrlEvent(GetParam(), runnerGroup)) {
                skipped = Platform::SystemErrorText(GetLastError());
                SetEvent(hold);
            }
        });
    CloseHandle(hold);
    if (!skipped.empty())
        GTEST_SKIP() << "the console event could not be sent: " << skipped;
    EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(STATUS_CONTROL_C_EXIT));
    EXPECT_NE(outcome.output.find("Échec de la mise à jour (code de sortie 0xC000013A). "), std::string::npos)
        << outcome.output;
    EXPECT_NE(outcome.output.find("Appuyez sur Entrée pour fermer cette fenêtre."), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(CtrlCAndCtrlBreak, RunnerInterrupted,
                         ::testing::Values(static_cast<DWORD>(CTRL_C_EVENT), static_cast<DWORD>(CTRL_BREAK_EVENT)));

} // namespace
