// zorbel-flash-run.exe FLASHER [ARGUMENT...]: what the console of a FLASH
// press runs on Windows. It starts the flasher with the arguments as they
// are (no cmd.exe), waits for it, says in French whether the update
// succeeded, and keeps the console open until Enter is pressed. Exits with
// the flasher's code, or 127 when it could not be started.

#include "CommandLineQuote.h"
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
    Say("Appuyez sur Entrée pour fermer cette fenêtre.");
    const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char c = 0;
    DWORD read = 0;
    while (ReadFile(in, &c, 1, &read, nullptr) && read == 1 && c != '\n') {
    }
}

// Runs the flasher in this console and returns its exit code, or the
// system's error of a start that failed in startError.
DWORD RunFlasher(const std::vector<std::string>& command, DWORD& startError)
{
    const std::wstring path = Platform::WideFromUtf8(command[0]);
    std::wstring line = Platform::WideFromUtf8(
        Platform::JoinCommandLine(command[0], std::vector<std::string>(command.begin() + 1, command.end())));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, nullptr,
                        nullptr, &startup, &process)) {
        startError = GetLastError();
        return 0;
    }
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    return code;
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
        Say("usage: zorbel-flash-run FLASHER [ARGUMENT...]\n");
        return 2;
    }
    DWORD startError = 0;
    const DWORD code = RunFlasher(command, startError);
    // The outcome and the request to close share the console's last line.
    Say("\n");
    int exitCode = static_cast<int>(code);
    if (startError != 0) {
        exitCode = 127;
        Say("Échec de la mise à jour : impossible de lancer " + command[0] + " (" +
            Platform::SystemErrorText(startError) + "). ");
    } else if (code == 0) {
        Say("Mise à jour réussie (code de sortie 0). ");
    } else {
        Say("Échec de la mise à jour (code de sortie " + std::to_string(code) + "). ");
    }
    WaitForEnter();
    return exitCode;
}
