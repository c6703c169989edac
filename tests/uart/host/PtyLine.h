#pragma once

// One emulated line whose host end is a pseudo-terminal: the emulator opens
// the slave by its path, the far end reads and writes the master, holds the
// wire through a slave descriptor of its own, and keeps the modem lines in a
// state file the preloaded library maps.

#include "ModemLineState.h"
#include "platform/UniqueFd.h"

#include <string>

class PtyLine {
public:
    PtyLine(std::string name, const std::string& stateFile);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& Name() const { return name_; }
    const std::string& SlavePath() const { return slavePath_; }
    const std::string& StateFile() const { return stateFile_; }
    int Master() const { return master_.Get(); }
    // A held wire takes nothing: the emulated UART's transmitter stays busy.
    void Hold(bool held);
    ModemLineState& Lines() { return *state_; }

private:
    std::string name_;
    std::string slavePath_;
    std::string stateFile_;
    Comm::UniqueFd master_;
    // Kept open so the master never sees the line hang up between the
    // emulator's opens, and used to stop the slave's output.
    Comm::UniqueFd slave_;
    ModemLineState* state_ = nullptr;
};
