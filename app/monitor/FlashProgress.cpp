#include "FlashProgress.h"

#include <QRegularExpression>

std::optional<TFlashProgress> ParseFlashProgress(QStringView line)
{
    // Phase, the bar between two " | ", the percentage and the time taken,
    // its unit with or without a blank before it.
    static const QRegularExpression bar(QStringLiteral(
        R"(^([A-Za-z]+) \| ([#\- ]{1,100}) \| (\d{1,3})% \d+(?:\.\d+)? ?s *$)"));
    const QRegularExpressionMatch match = bar.match(line);
    if (!match.hasMatch())
        return std::nullopt;
    const int percent = match.capturedView(3).toInt();
    if (percent > 100)
        return std::nullopt;
    return TFlashProgress {match.captured(1), percent};
}

QStringList TFlashOutputSplitter::Feed(QByteArrayView bytes)
{
    QStringList lines;
    for (const char c : bytes) {
        if (c == '\n' && afterReturn_) {
            afterReturn_ = false;
            continue;
        }
        afterReturn_ = c == '\r';
        if (c == '\r' || c == '\n') {
            if (!pending_.isEmpty() || c == '\n')
                lines.append(QString::fromLocal8Bit(pending_));
            pending_.clear();
            continue;
        }
        pending_.append(c);
    }
    return lines;
}

QString TFlashOutputSplitter::Pending() const
{
    return QString::fromLocal8Bit(pending_);
}

QString TFlashOutputSplitter::TakePending()
{
    const QString line = Pending();
    pending_.clear();
    afterReturn_ = false;
    return line;
}
