#include "SafeFileWrite.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

QString WriteFileSafely(const QString& path, const QByteArray& data)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    auto failure = [&](const char* step) {
        return QStringLiteral("%1 '%2': %3")
            .arg(QString::fromLatin1(step), QFile::decodeName(temporary), QString::fromLocal8Bit(std::strerror(errno)));
    };

    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return failure("Cannot create");
    const char* next = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, next, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const QString message = failure("Cannot write");
            ::close(fd);
            ::unlink(temporary.constData());
            return message;
        }
        next += n;
        left -= n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const QString message = failure("Cannot flush");
        ::unlink(temporary.constData());
        return message;
    }
    if (std::rename(temporary.constData(), target.constData()) != 0) {
        const QString message = failure("Cannot rename");
        ::unlink(temporary.constData());
        return message;
    }
    return {};
}
