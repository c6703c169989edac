#include "ComCtlLibrary.h"

#include <QStringList>

#include <memory>

const std::array<QString, 7> LedLitNames = {
    QStringLiteral("LEDREDON"), QStringLiteral("LEDGREENON"), QStringLiteral("LEDBLUEON"),
    QStringLiteral("LEDYELLOWON"), QStringLiteral("LEDPURPLEON"), QStringLiteral("LEDBULBON"), QString()};
const std::array<QString, 7> LedDarkNames = {
    QStringLiteral("LEDREDOFF"), QStringLiteral("LEDGREENOFF"), QStringLiteral("LEDBLUEOFF"),
    QStringLiteral("LEDYELLOWOFF"), QStringLiteral("LEDPURPLEOFF"), QStringLiteral("LEDBULBOFF"), QString()};

namespace {
std::unique_ptr<TComCtlFont>& SharedFont()
{
    static std::unique_ptr<TComCtlFont> font;
    return font;
}
} // namespace

void InitComCtlLibrary()
{
    // The library's resources live in a static library: register them here.
    Q_INIT_RESOURCE(CPortCtl);
    if (SharedFont())
        return;
    auto font = std::make_unique<TComCtlFont>();
    // Where the face is missing, the system's fixed-width face stands in.
    font->Font.setFamilies({QStringLiteral("Fixedsys"), QStringLiteral("monospace")});
    font->Font.setStyleHint(QFont::TypeWriter);
    font->Font.setPointSize(9);
    font->Color = Qt::white;
    SharedFont() = std::move(font);
}

void DoneComCtlLibrary()
{
    SharedFont().reset();
}

const TComCtlFont* ComCtlFont()
{
    return SharedFont().get();
}

QPixmap LedBitmap(const QString& name)
{
    if (name.isEmpty())
        return {};
    return QPixmap(QStringLiteral(":/CPortCtl/leds/%1.xpm").arg(name));
}
