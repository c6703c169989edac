#pragma once

#include <QString>

// Starts the external flasher with a parameter line. With a terminal, the
// flasher gets a window of its own (as a console program does when started
// normally); without one it shares the tool's output. Returns 0, or the errno
// of a start that failed; a missing flasher is found before any terminal starts.
int StartFlasher(const QString& parameterLine, bool inTerminal);

// The name of the flasher program as the program search looks it up.
extern const char* const FlasherProgram;
