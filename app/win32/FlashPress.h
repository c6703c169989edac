#pragma once

// What FLASH does on Windows: the flasher's seven-piece parameters for the
// chosen port and speed, passed to the runner beside the tool, which runs
// avrdude.exe in a console of its own. No shell is involved, and FLASH does
// not wait: each press starts a flasher.

#include "FlashStart.h"

#include <string>

// The caption of the tool's message boxes.
inline constexpr wchar_t MessageCaption[] = L"zorbel-flash";

// Starts the flasher for the port's bare name and the speed text. Returns 0,
// or the system's error (no avrdude.exe beside the tool, in the current
// folder or on PATH: nothing is started).
Platform::TSystemError StartFlasherFor(const std::wstring& port, const std::wstring& speed);
