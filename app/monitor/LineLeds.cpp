#include "LineLeds.h"

#include "ComCtlLibrary.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

struct LedLook {
    const char* label;
    const char* tip;
    // Index into the library's lamp pictures: red, green, blue, yellow.
    int colour;
};

constexpr std::array<LedLook, LineLedCount> Looks = {{
    {"CTS", "Clear to send", 1},
    {"DSR", "Data set ready", 1},
    {"RING", "Ring indicator", 3},
    {"RLSD", "Receive line signal detect (carrier)", 1},
    {"ERR", "Line errors", 0},
}};

} // namespace

QString LineErrorsText(TComErrors errors)
{
    static const std::array<const char*, 8> names = {"framing",  "parity", "overrun",           "break",
                                                     "I/O",      "mode",   "input buffer full", "output buffer full"};
    QStringList found;
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
        if (errors.Contains(static_cast<TComError>(i)))
            found << QString::fromLatin1(names[i]);
    }
    return found.join(QStringLiteral(", "));
}

TLineLeds::TLineLeds(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    for (int i = 0; i < LineLedCount; ++i) {
        lamps_[i] = new QLabel(this);
        lamps_[i]->setObjectName(QStringLiteral("led") + QString::fromLatin1(Looks[i].label));
        lamps_[i]->setToolTip(QString::fromLatin1(Looks[i].tip));
        auto* label = new QLabel(QString::fromLatin1(Looks[i].label), this);
        label->setToolTip(lamps_[i]->toolTip());
        layout->addWidget(lamps_[i]);
        layout->addWidget(label);
    }
    layout->addStretch();
    Clear();
}

void TLineLeds::SetLit(TLineLed led, bool lit)
{
    lit_[led] = lit;
    const int colour = Looks[led].colour;
    lamps_[led]->setPixmap(LedBitmap(lit ? LedLitNames[colour] : LedDarkNames[colour]));
}

void TLineLeds::ShowErrors(TComErrors errors)
{
    SetLit(llError, !errors.Empty());
    lamps_[llError]->setToolTip(errors.Empty() ? QString::fromLatin1(Looks[llError].tip)
                                               : tr("Last line errors: %1").arg(LineErrorsText(errors)));
}

void TLineLeds::Clear()
{
    for (int i = 0; i < LineLedCount; ++i)
        SetLit(static_cast<TLineLed>(i), false);
    lamps_[llError]->setToolTip(QString::fromLatin1(Looks[llError].tip));
}
