#pragma once

// Starting the flasher on Windows: FLASH does not wait for it, involves no
// shell, and shows the outcome in a console of its own, where the flash
// runner starts the flasher, says how it ended and waits for Enter.

#include <cstdint>
#include <string>
#include <vector>

namespace Platform {

using TSystemError = std::uint32_t;

// The flasher's file name on this platform.
extern const char* const FlasherFileName;

// The full path of program as Windows' program search finds it (the tool's
// folder, the current folder, the system folders, then PATH), or empty with
// the system's error.
std::string FindOnProgramSearch(const std::string& program, TSystemError& error);

// Finds the flasher and starts the runner in a new console with the
// flasher's path and the arguments, each of which reaches the flasher as it
// is; without a runner the flasher itself gets the console. Returns 0, or
// the system's error (a missing flasher is found before anything starts).
TSystemError StartFlasher(const std::string& runner, const std::string& flasher,
                          const std::vector<std::string>& arguments);

} // namespace Platform
