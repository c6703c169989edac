#include "SafeFileWrite.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why the existing file at target (links followed) must not be replaced, or
// empty. QSaveFile asks too, but with the real user's rights and root's
// licence to write anything. The effective user's rights are the ones that
// count. And a file without any write permission is how its owner says
// "keep this as it is": it is refused even to root, with the reason an
// ordinary user would get.
QString RefusalToReplace(const QByteArray& target, const struct stat& old)
{
    if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return SystemText(EACCES);
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
        return SystemText(errno);
    return {};
}

// QSaveFile gives the new file the old one's permissions but makes it ours;
// where we have the right (as root) it goes back to its owner. Without that
// right it stays ours, which is no failure of the save.
void KeepOwner(int fd, const struct stat& old)
{
    if (old.st_uid == ::geteuid() && old.st_gid == ::getegid())
        return;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        return;
}

// QSaveFile commits whatever reached the file when a buffered write falls
// short (its flush drops the error), so the file is opened unbuffered and a
// short write is followed up until the rest is written or the system says
// why not.
bool WriteAll(QSaveFile& file, const QByteArray& data)
{
    for (qsizetype done = 0; done < data.size();) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

QString WriteFileSafely(const QString& path, const QByteArray& data)
{
    const QByteArray target = QFile::encodeName(path);
    auto failure = [&](const QString& reason) { return QStringLiteral("Cannot save '%1': %2").arg(path, reason); };

    struct stat old {};
    const bool existing = ::stat(target.constData(), &old) == 0;
    if (!existing && errno != ENOENT)
        return failure(SystemText(errno));
    if (existing) {
        const QString refusal = RefusalToReplace(target, old);
        if (!refusal.isEmpty())
            return failure(refusal);
    }

    // Until commit succeeds the old file is untouched; a QSaveFile dropped
    // or failing removes its temporary file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(file.errorString());
    if (existing)
        KeepOwner(file.handle(), old);
    if (!WriteAll(file, data) || !file.commit())
        return failure(file.errorString());
    return {};
}
