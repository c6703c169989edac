#pragma once

// What the flash runner says when the flasher's run is over, in French, on
// every platform: the outcome, then on the same line the request to close
// the window. Plain C++, so that the runners need nothing else.

#include <cstdint>
#include <string>

namespace FlashOutcome {

// The flasher ran and exited with code: a success only for 0. Codes that
// are Windows status values (0xC000013A after Ctrl-C) are shown in hex, as
// Windows writes them.
std::string Exited(std::uint32_t code);
// The flasher was ended by a signal (Linux).
std::string Signalled(int signal);
// The flasher could not be started, for reason (the system's text).
std::string NotStarted(const std::string& flasher, const std::string& reason);
// The flasher's end could not be learned: nothing says the update succeeded.
std::string NotWaited(const std::string& flasher, const std::string& reason);

extern const char* const CloseRequest;
extern const char* const Usage;

} // namespace FlashOutcome
