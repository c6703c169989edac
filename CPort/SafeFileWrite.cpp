#include "SafeFileWrite.h"

#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Comm::UniqueFd;

namespace {

// A temporary file beside the target that nobody else can have prepared: a
// fresh random name, created exclusively, never through a link.
UniqueFd CreateTemporary(const QByteArray& target, QByteArray& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = target + ".new-" + QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        UniqueFd fd(::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (fd.Valid() || errno != EEXIST)
            return fd;
    }
    return UniqueFd();
}

bool WriteAll(int fd, const QByteArray& data)
{
    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        next += n;
        left -= n;
    }
    return true;
}

// Gives the new file the old one's owner where we have the right to; a
// refusal leaves it ours, which is no failure of the save.
void KeepOwner(int fd, const struct stat& old)
{
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        return;
}

// The directory entry of the rename reaches the disk too.
void SyncDirectoryOf(const QByteArray& target)
{
    const QByteArray directory = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
    const UniqueFd fd(::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.Valid())
        ::fsync(fd.Get());
}

} // namespace

QString WriteFileSafely(const QString& path, const QByteArray& data)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".new";
    auto failure = [&](const char* step) {
        return QStringLiteral("%1 '%2': %3")
            .arg(QString::fromLatin1(step), QFile::decodeName(temporary), QString::fromLocal8Bit(std::strerror(errno)));
    };

    UniqueFd fd = CreateTemporary(target, temporary);
    if (!fd.Valid())
        return failure("Cannot create");
    auto fail = [&](const char* step) {
        const QString message = failure(step);
        fd.Reset();
        ::unlink(temporary.constData());
        return message;
    };

    // The new file keeps the old one's owner, where we may give it, and its
    // permissions; a file made anew gets the usual mode.
    struct stat old {};
    if (::stat(target.constData(), &old) == 0) {
        // Without the right to give the file away it stays ours.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            KeepOwner(fd.Get(), old);
        if (::fchmod(fd.Get(), old.st_mode & 07777) != 0)
            return fail("Cannot set the permissions of");
    }
    if (!WriteAll(fd.Get(), data))
        return fail("Cannot write");
    if (::fsync(fd.Get()) != 0)
        return fail("Cannot flush");
    if (::close(fd.Release()) != 0)
        return fail("Cannot flush");
    if (std::rename(temporary.constData(), target.constData()) != 0)
        return fail("Cannot rename");
    SyncDirectoryOf(target);
    return {};
}
