#pragma once

#include <QString>

// The shared parameters of app/platform, in the window's text.

// The firmware image that belongs to a boot loader speed: exact,
// case-sensitive match of the whole text, else no image.
QString FirmwareImageForSpeed(const QString& speedText);

// The flasher's parameter line: seven pieces joined with nothing between them,
// nothing validated, quoted or escaped.
QString FlashParameterLine(const QString& portText, const QString& speedText);
