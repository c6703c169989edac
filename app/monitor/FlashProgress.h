#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// Reading the flasher's terminal output. On a terminal avrdude draws its
// progress as one line redrawn in place: each state starts with '\r' and the
// bar ends with '\n' once complete. 6.x draws
//   "\rWriting | ################################################## | 100% 0.00s"
// and 7.x the same with a blank before the unit and after it:
//   "\rWriting | ######                                             | 12% 0.00 s "
// A bar that stops on a failure is filled with '-' after the part done.

// One state of a progress bar: the phase as the flasher names it
// ("Reading", "Writing") and how far it is, 0 to 100.
struct TFlashProgress {
    QString phase;
    int percent = 0;
    bool operator==(const TFlashProgress&) const = default;
};

// The bar state a whole line shows, or nothing when the line is anything
// else (text, a bar cut short, garbage).
std::optional<TFlashProgress> ParseFlashProgress(QStringView line);

// Cuts the output into lines as it is read: '\n', "\r\n" and a lone '\r'
// each end one (a '\r' ends a bar state that the next one replaces). The
// text after the last end waits for the rest of its line.
class TFlashOutputSplitter {
public:
    // The lines that bytes complete, in order; a '\r' at the start of a line
    // (before a redraw) ends nothing.
    QStringList Feed(QByteArrayView bytes);
    // The line not yet ended: a bar being drawn shows its state here before
    // the next redraw.
    QString Pending() const;
    // The line not yet ended, as the output ends.
    QString TakePending();

private:
    QByteArray pending_;
    // A '\r' just ended a line: a '\n' straight after it belongs to it.
    bool afterReturn_ = false;
};
