#include "FlashPress.h"

#include "CommandLine.h"
#include "FlashParameters.h"
#include "WideText.h"

#include <windows.h>

namespace {

// The runner installed beside the tool, or empty when it is missing (the
// flasher then gets the console itself).
std::string RunnerBesideTool()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.erase(path.find_last_of(L'\\') + 1);
    path += L"zorbel-flash-run.exe";
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return Platform::Utf8FromWide(path);
}

} // namespace

Platform::TSystemError StartFlasherFor(const std::wstring& port, const std::wstring& speed)
{
    // The same line as the Linux window's, split by the same rules.
    const std::string line = Platform::FlashParameterLine(Platform::Utf8FromWide(port), Platform::Utf8FromWide(speed));
    return Platform::StartFlasher(RunnerBesideTool(), Platform::FlasherFileName, SplitCommandLine(line), true);
}
