#pragma once

// Starting the flasher, the same on every platform: FLASH does not wait for
// it and involves no shell, and the flasher gets a window of its own, where
// the flash runner starts it, says how it ended and waits for Enter. On
// Windows that window is a new console; on Linux it is the desktop's
// terminal.

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

// The system's error: errno on Linux, GetLastError's code on Windows.
using TSystemError = std::uint32_t;

// The flasher's file name on this platform.
extern const char* const FlasherFileName;

// The full path of program as the platform's program search finds it
// (Linux: the directories of PATH; Windows: the tool's folder, the current
// folder, the system folders, then PATH), or empty with the system's error.
std::string FindOnProgramSearch(const std::string& program, TSystemError& error);

// Finds the flasher and starts it with the arguments, each of which reaches
// it as it is. With inWindow, the runner (the flasher itself when runner is
// empty) gets a window of its own and the flasher's path and the arguments;
// Linux without a terminal, or without inWindow, starts the flasher alone
// on the tool's output. Windows always gives a console program a console
// of its own. Returns 0, or the system's error (a missing flasher is found
// before anything starts).
TSystemError StartFlasher(const std::string& runner, const std::string& flasher,
                          const std::vector<std::string>& arguments, bool inWindow);

} // namespace Platform
