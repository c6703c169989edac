#include "ReplacedFile.h"

#include "FileCallsLinux.h"
#include "SystemError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

TFileCalls& FileCalls()
{
    static TFileCalls calls{::write, ::fchown, ::fchmod, ::fdatasync, ::close, ::rename};
    return calls;
}

namespace {

std::string Text(int error)
{
    return SystemErrorText(static_cast<std::uint32_t>(error));
}

// The file a save replaces: a symbolic link's target, so that the link stays.
// A file that is not there yet is made under the name given.
std::string TargetOf(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

// The new file in the target's folder, under a name of its own; it is
// removed unless it was renamed over the target.
class TTemporaryFile {
public:
    ~TTemporaryFile()
    {
        if (fd_ >= 0)
            FileCalls().Close(fd_);
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    int Fd() const { return fd_; }

    // Makes the file with mode (less the umask); 0 or the system's error.
    int Create(const std::string& target, mode_t mode)
    {
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        std::random_device entropy;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(entropy()));
            const std::string path = folder + "." + name + suffix;
            fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ >= 0) {
                path_ = path;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int Write(const void* data, std::size_t size)
    {
        const auto* bytes = static_cast<const char*>(data);
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = FileCalls().Write(fd_, bytes + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno;
            // A regular file takes at least one byte or says why not.
            if (n == 0)
                return EIO;
            done += static_cast<std::size_t>(n);
        }
        return 0;
    }

    int Flush()
    {
        // A file system without a flush to disk (EINVAL) has nothing more
        // to do; any other failure means the data may never reach it.
        if (FileCalls().Fdatasync(fd_) != 0 && errno != EINVAL)
            return errno;
        return 0;
    }

    // The descriptor is gone whatever close says; what it says counts: a
    // remote file system tells a failed write only here.
    int Close()
    {
        const int fd = fd_;
        fd_ = -1;
        return FileCalls().Close(fd) == 0 ? 0 : errno;
    }

    int RenameOver(const std::string& target)
    {
        if (FileCalls().Rename(path_.c_str(), target.c_str()) != 0)
            return errno;
        path_.clear();
        return 0;
    }

private:
    int fd_ = -1;
    std::string path_;
};

// Why the file at target must not be replaced, or empty. The effective
// user's rights are the ones that count, and root may write anything: a file
// with no write permission at all is refused to root as well.
std::string Refusal(const std::string& target, const struct stat& old)
{
    if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return Text(EACCES);
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
        return Text(errno);
    return {};
}

// Gives the new file the old one's owner and mode. Where this process may
// not give the file away (it is not root) the new file stays its own, which
// is no failure; a mode it cannot set is.
int KeepOwnerAndMode(int fd, const struct stat& old)
{
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        if (FileCalls().Fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM)
            return errno;
    }
    // After the owner: giving a file away clears its set-id bits.
    if (FileCalls().Fchmod(fd, old.st_mode & 07777) != 0)
        return errno;
    return 0;
}

} // namespace

std::string ReplaceFileWith(const std::string& path, const void* data, std::size_t size)
{
    const std::string target = TargetOf(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return Text(errno);
    if (exists) {
        if (std::string refusal = Refusal(target, old); !refusal.empty())
            return refusal;
    }
    // An existing file's mode is set once the file is ours alone; a new one
    // gets what the umask leaves of read and write for all.
    TTemporaryFile file;
    int error = file.Create(target, exists ? S_IRUSR | S_IWUSR : 0666);
    if (error == 0 && exists)
        error = KeepOwnerAndMode(file.Fd(), old);
    if (error == 0)
        error = file.Write(data, size);
    if (error == 0)
        error = file.Flush();
    if (error == 0)
        error = file.Close();
    if (error == 0)
        error = file.RenameOver(target);
    return error == 0 ? std::string() : Text(error);
}

} // namespace Platform
