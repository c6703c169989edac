// zorbel-flash-run.exe FLASHER [ARGUMENT...]: what the console of a FLASH
// press runs on Windows. It starts the flasher with the arguments as they
// are (no cmd.exe), waits for it, says in French whether the update
// succeeded, and keeps the console open until Enter is pressed. Exits with
// the flasher's code, or 127 when it could not be started, or 1 when its
// end could not be learned.

#include "CommandLineQuote.h"
#include "FlashOutcome.h"
#include "SystemError.h"
#include "WideText.h"

#include <windows.h>

#include <string>
#include <vector>

namespace {

// A console takes wide text, so the accents come out whatever its code
// page; a pipe or a file gets UTF-8.
void Say(const std::string& text)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        const std::wstring wide = Platform::WideFromUtf8(text);
        WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

void WaitForEnter()
{
    Say(FlashOutcome::CloseRequest);
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char c = 0;
    DWORD read = 0;
    while (ReadFile(in, &c, 1, &read, nullptr) && read == 1 && c != '\n') {
    }
}

// Ctrl-C and Ctrl-Break in the console are for the flasher, which shares
// the console and gets them too: the runner stays to tell how it ended.
// Closing the console still ends the runner.
BOOL WINAPI KeepRunning(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

// While the flasher runs. Whoever started us may have left Ctrl-C ignored
// (a process started in a new process group has it so), and the flasher
// would inherit that: it is turned back on, and the runner keeps itself
// alive with a handler, which children do not inherit. Made before the
// flasher starts, so that no key pressed once it runs can end the runner
// first; once it has ended, Ctrl-C closes the window again.
class TKeepRunningThroughInterrupts {
public:
    TKeepRunningThroughInterrupts()
    {
        SetConsoleCtrlHandler(nullptr, FALSE);
        SetConsoleCtrlHandler(KeepRunning, TRUE);
    }
    ~TKeepRunningThroughInterrupts() { SetConsoleCtrlHandler(KeepRunning, FALSE); }
    TKeepRunningThroughInterrupts(const TKeepRunningThroughInterrupts&) = delete;
    TKeepRunningThroughInterrupts& operator=(const TKeepRunningThroughInterrupts&) = delete;
};

// How the flasher's run ended, as far as we could learn it.
struct TFlasherEnd {
    enum { NotStarted, NotWaited, Ended } kind = Ended;
    DWORD code = 0;  // the exit code, when Ended
    DWORD error = 0; // the system's error, when NotStarted or NotWaited
};

// Runs the flasher in this console and waits for it.
TFlasherEnd RunFlasher(const std::vector<std::string>& command)
{
    const TKeepRunningThroughInterrupts interrupts;
    const std::wstring path = Platform::WideFromUtf8(command[0]);
    std::wstring line = Platform::WideFromUtf8(
        Platform::JoinCommandLine(command[0], std::vector<std::string>(command.begin() + 1, command.end())));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, nullptr,
                        nullptr, &startup, &process))
        return {TFlasherEnd::NotStarted, 0, GetLastError()};
    CloseHandle(process.hThread);
    TFlasherEnd end;
    if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.hProcess, &end.code))
        end = {TFlasherEnd::NotWaited, 0, GetLastError()};
    CloseHandle(process.hProcess);
    return end;
}

// Says how the flasher's run ended and returns our exit code.
int ReportOutcome(const TFlasherEnd& end, const std::string& flasher)
{
    Say("\n");
    switch (end.kind) {
    case TFlasherEnd::NotStarted:
        Say(FlashOutcome::NotStarted(flasher, Platform::SystemErrorText(end.error)));
        return 127;
    case TFlasherEnd::NotWaited:
        Say(FlashOutcome::NotWaited(flasher, Platform::SystemErrorText(end.error)));
        return 1;
    case TFlasherEnd::Ended: break;
    }
    Say(FlashOutcome::Exited(end.code));
    return static_cast<int>(end.code);
}

std::vector<std::string> Arguments()
{
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; words && i < count; ++i)
        arguments.push_back(Platform::Utf8FromWide(words[i]));
    LocalFree(words);
    return arguments;
}

} // namespace

int main()
{
    const std::vector<std::string> command = Arguments();
    if (command.empty()) {
        Say(FlashOutcome::Usage);
        return 2;
    }
    const TFlasherEnd end = RunFlasher(command);
    // The outcome and the request to close share the console's last line.
    const int exitCode = ReportOutcome(end, command[0]);
    WaitForEnter();
    return exitCode;
}
