#pragma once

// The lamps of the line's input signals (CTS, DSR, RING, RLSD) and of line
// errors, set by the port's line events.

#include "ComLineStatus.h"

#include <QWidget>

#include <array>

class QLabel;

enum TLineLed : std::uint8_t { llCTS, llDSR, llRing, llRLSD, llError };
inline constexpr int LineLedCount = 5;

class TLineLeds : public QWidget {
    Q_OBJECT

public:
    explicit TLineLeds(QWidget* parent = nullptr);

    void SetLit(TLineLed led, bool lit);
    bool Lit(TLineLed led) const { return lit_[led]; }
    // Lights the error lamp, the errors named in its tip.
    void ShowErrors(TComErrors errors);
    // All dark, as a closed port is.
    void Clear();

private:
    std::array<QLabel*, LineLedCount> lamps_{};
    std::array<bool, LineLedCount> lit_{};
};

// The names of line errors, for the window and the log: "framing, overrun".
QString LineErrorsText(TComErrors errors);
