#pragma once

// Start-up and shut-down data of the control library: the shared default font
// and the names of the indicator-lamp bitmaps.

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>

#include <array>

struct TComCtlFont {
    QFont Font;
    QColor Color;
};

// Creates the shared font; run once at program start.
void InitComCtlLibrary();
// Frees it; run once at exit.
void DoneComCtlLibrary();
// The shared font, or null outside the library's lifetime.
const TComCtlFont* ComCtlFont();

// Resource names of the lamp pictures, lit and dark; entry 6 has no name.
extern const std::array<QString, 7> LedLitNames;
extern const std::array<QString, 7> LedDarkNames;

// The lamp picture of a resource name (null for an empty or unknown name).
QPixmap LedBitmap(const QString& name);
