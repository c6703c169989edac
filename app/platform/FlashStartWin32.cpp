#include "FlashStart.h"

#include "CommandLineQuote.h"
#include "WideText.h"

#include <windows.h>

namespace Platform {

const char* const FlasherFileName = "avrdude.exe";

std::string FindOnProgramSearch(const std::string& program, TSystemError& error)
{
    const std::wstring name = WideFromUtf8(program);
    wchar_t found[MAX_PATH * 2];
    const DWORD length = SearchPathW(nullptr, name.c_str(), nullptr, static_cast<DWORD>(std::size(found)), found,
                                     nullptr);
    if (length == 0 || length >= std::size(found)) {
        error = length == 0 ? GetLastError() : ERROR_FILENAME_EXCED_RANGE;
        return {};
    }
    error = 0;
    return Utf8FromWide(std::wstring_view(found, length));
}

namespace {

// Starts the program in a console of its own and lets it go: the handles
// are closed at once, nobody waits.
TSystemError StartInNewConsole(const std::string& program, const std::vector<std::string>& arguments)
{
    const std::wstring path = WideFromUtf8(program);
    std::wstring line = WideFromUtf8(JoinCommandLine(program, arguments));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &process))
        return GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

} // namespace

TSystemError StartFlasher(const std::string& runner, const std::string& flasher,
                          const std::vector<std::string>& arguments, bool /*inWindow*/)
{
    TSystemError error = 0;
    const std::string flasherPath = FindOnProgramSearch(flasher, error);
    if (flasherPath.empty())
        return error;
    if (runner.empty())
        return StartInNewConsole(flasherPath, arguments);
    std::vector<std::string> runnerArguments = {flasherPath};
    runnerArguments.insert(runnerArguments.end(), arguments.begin(), arguments.end());
    return StartInNewConsole(runner, runnerArguments);
}

} // namespace Platform
