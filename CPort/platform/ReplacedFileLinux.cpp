#include "ReplacedFile.h"

#include "SystemError.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

TReplacedFile::TReplacedFile(const std::string& path)
{
    struct stat old {};
    if (::stat(path.c_str(), &old) != 0) {
        if (errno != ENOENT)
            refusal_ = SystemErrorText(static_cast<std::uint32_t>(errno));
        return;
    }
    exists_ = true;
    owner_ = old.st_uid;
    group_ = old.st_gid;
    // The effective user's rights are the ones that count (a save asked with
    // the real user's, and root may write anything).
    if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        refusal_ = SystemErrorText(EACCES);
    else if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        refusal_ = SystemErrorText(static_cast<std::uint32_t>(errno));
}

void TReplacedFile::KeepOwner(int fd) const
{
    if (!exists_ || (owner_ == ::geteuid() && group_ == ::getegid()))
        return;
    // Without the right the new file stays ours, which is no failure.
    [[maybe_unused]] const int result = ::fchown(fd, owner_, group_);
}

} // namespace Platform
