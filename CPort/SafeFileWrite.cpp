#include "SafeFileWrite.h"

#include "platform/ReplacedFile.h"

#include <QFile>
#include <QSaveFile>

namespace {

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
    auto failure = [&](const QString& reason) { return QStringLiteral("Cannot save '%1': %2").arg(path, reason); };

    // QSaveFile asks whether the file may be replaced too, but with the real
    // user's rights and an administrator's licence to write anything.
    const Platform::TReplacedFile old(path.toStdString());
    if (!old.Refusal().empty())
        return failure(QString::fromStdString(old.Refusal()));

    // Until commit succeeds the old file is untouched; a QSaveFile dropped
    // or failing removes its temporary file. It gives the new file the old
    // one's permissions, but makes it ours.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return failure(file.errorString());
    old.KeepOwner(file.handle());
    if (!WriteAll(file, data) || !file.commit())
        return failure(file.errorString());
    return {};
}
