#include "ReplacedFile.h"

#include "SystemError.h"
#include "WideText.h"

#include <algorithm>
#include <cwchar>
#include <random>
#include <vector>

#include <windows.h>

namespace Platform {

namespace {

// The file a save replaces: a symbolic link's target, so that the link stays.
DWORD TargetOf(const std::wstring& path, std::wstring& target)
{
    const HANDLE file = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    std::vector<wchar_t> name(MAX_PATH);
    DWORD length = ::GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = ::GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()), FILE_NAME_NORMALIZED);
    }
    const DWORD error = length == 0 || length >= name.size() ? ::GetLastError() : ERROR_SUCCESS;
    ::CloseHandle(file);
    if (error == ERROR_SUCCESS)
        target.assign(name.data(), length);
    return error;
}

// The new file in the target's folder, under a name of its own; it is
// removed unless it was moved over the target.
class TTemporaryFile {
public:
    ~TTemporaryFile()
    {
        if (file_ != INVALID_HANDLE_VALUE)
            ::CloseHandle(file_);
        if (!path_.empty())
            ::DeleteFileW(path_.c_str());
    }

    DWORD Create(const std::wstring& target)
    {
        const std::size_t slash = target.find_last_of(L"\\/");
        const std::wstring folder = slash == std::wstring::npos ? std::wstring() : target.substr(0, slash + 1);
        const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
        std::random_device entropy;
        for (int attempt = 0; attempt < 100; ++attempt) {
            wchar_t suffix[16];
            std::swprintf(suffix, 16, L".%08x.tmp", static_cast<unsigned>(entropy()));
            const std::wstring path = folder + L"~" + name + suffix;
            // A new file takes its folder's permissions.
            file_ = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file_ != INVALID_HANDLE_VALUE) {
                path_ = path;
                return ERROR_SUCCESS;
            }
            const DWORD error = ::GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                return error;
        }
        return ERROR_FILE_EXISTS;
    }

    DWORD Write(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const char*>(data);
        for (std::size_t done = 0; done < size;) {
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
            DWORD written = 0;
            if (!::WriteFile(file_, bytes + done, chunk, &written, nullptr))
                return ::GetLastError();
            if (written == 0)
                return ERROR_WRITE_FAULT;
            done += written;
        }
        return ERROR_SUCCESS;
    }

    DWORD Flush() { return ::FlushFileBuffers(file_) ? ERROR_SUCCESS : ::GetLastError(); }

    DWORD Close()
    {
        const HANDLE file = file_;
        file_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(file) ? ERROR_SUCCESS : ::GetLastError();
    }

    DWORD MoveOver(const std::wstring& target)
    {
        if (!::MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ::GetLastError();
        path_.clear();
        return ERROR_SUCCESS;
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::wstring path_;
};

} // namespace

std::string ReplaceFileWith(const std::string& path, const void* data, std::size_t size)
{
    std::wstring target = WideFromUtf8(path);
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            return SystemErrorText(error);
    } else {
        // A read-only file is refused with the reason its replacement would
        // meet; whether this user may write it at all, the move finds.
        if (attributes & FILE_ATTRIBUTE_READONLY)
            return SystemErrorText(ERROR_ACCESS_DENIED);
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (const DWORD error = TargetOf(std::wstring(target), target))
                return SystemErrorText(error);
        }
    }
    TTemporaryFile file;
    DWORD error = file.Create(target);
    if (error == ERROR_SUCCESS)
        error = file.Write(data, size);
    if (error == ERROR_SUCCESS)
        error = file.Flush();
    if (error == ERROR_SUCCESS)
        error = file.Close();
    if (error == ERROR_SUCCESS)
        error = file.MoveOver(target);
    return error == ERROR_SUCCESS ? std::string() : SystemErrorText(error);
}

} // namespace Platform
