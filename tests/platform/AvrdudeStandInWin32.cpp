// A stand-in for the flasher, built as avrdude.exe beside the suite: it
// records the arguments its C runtime split from the command line (what
// the real flasher would get) in the file ZORBEL_STANDIN_RECORD names, each
// as "<length>:<bytes>", signals the event ZORBEL_STANDIN_DONE names, and
// exits with ZORBEL_STANDIN_EXIT (0 by default). With ZORBEL_STANDIN_HOLD
// it first waits, as a flasher at work does, until the event that names is
// set (10 s at most), and ends at Ctrl-C or Ctrl-Break with the code
// Windows' own handling gives (Wine's gives 0).
// With ZORBEL_STANDIN_FOLDER it first writes the folder it was started in to
// that file.

#include "WideText.h"

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring Variable(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, static_cast<DWORD>(std::size(value)));
    return length > 0 && length < std::size(value) ? std::wstring(value, length) : std::wstring();
}

BOOL WINAPI EndAsWindowsDoes(DWORD)
{
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::string record;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = Platform::Utf8FromWide(argv[i]);
        record += std::to_string(argument.size()) + ":" + argument;
    }
    // The folder it was started in, when asked.
    const std::wstring folderRecord = Variable(L"ZORBEL_STANDIN_FOLDER");
    wchar_t folder[MAX_PATH] = {};
    const DWORD folderLength = GetCurrentDirectoryW(MAX_PATH, folder);
    if (!folderRecord.empty() && folderLength > 0 && folderLength < MAX_PATH) {
        const std::string text = Platform::Utf8FromWide(std::wstring_view(folder, folderLength));
        const HANDLE file = CreateFileW(folderRecord.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    const HANDLE file = CreateFileW(Variable(L"ZORBEL_STANDIN_RECORD").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
        CloseHandle(file);
    }
    // Ready for the console's events before it says it runs.
    const HANDLE hold = OpenEventW(SYNCHRONIZE, FALSE, Variable(L"ZORBEL_STANDIN_HOLD").c_str());
    if (hold)
        SetConsoleCtrlHandler(EndAsWindowsDoes, TRUE);
    if (const HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, Variable(L"ZORBEL_STANDIN_DONE").c_str())) {
        SetEvent(done);
        CloseHandle(done);
    }
    if (hold) {
        WaitForSingleObject(hold, 10000);
        CloseHandle(hold);
    }
    const std::wstring code = Variable(L"ZORBEL_STANDIN_EXIT");
    return code.empty() ? 0 : std::wcstol(code.c_str(), nullptr, 10);
}
