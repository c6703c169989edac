#include "SafeFileWrite.h"

#include "platform/ReplacedFile.h"

QString WriteFileSafely(const QString& path, const QByteArray& data)
{
    const std::string failure =
        Platform::ReplaceFileWith(path.toStdString(), data.constData(), static_cast<std::size_t>(data.size()));
    if (failure.empty())
        return {};
    return QStringLiteral("Cannot save '%1': %2").arg(path, QString::fromStdString(failure));
}
