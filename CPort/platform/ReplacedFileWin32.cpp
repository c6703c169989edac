#include "ReplacedFile.h"

#include "SystemError.h"
#include "WideText.h"

#include <windows.h>

namespace Platform {

TReplacedFile::TReplacedFile(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesW(WideFromUtf8(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            refusal_ = SystemErrorText(error);
        return;
    }
    exists_ = true;
    // A read-only file is refused with the reason its replacement would
    // meet; whether this user may write it at all, the save itself finds.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        refusal_ = SystemErrorText(ERROR_ACCESS_DENIED);
}

void TReplacedFile::KeepOwner(int) const {}

} // namespace Platform
