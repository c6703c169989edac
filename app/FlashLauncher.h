#pragma once

#include <QString>

#include <string>

// Starts the external flasher with a parameter line. With a terminal, the
// flasher gets a window of its own (as a console program does when started
// normally): the terminal runs the report helper, which runs the flasher and
// keeps the window open on its outcome (without a helper, the flasher alone).
// Without a terminal the flasher shares the tool's output. Returns 0, or the
// errno of a start that failed; a missing flasher is found before any
// terminal starts.
int StartFlasher(const QString& parameterLine, bool inTerminal, const std::string& reportHelper);

// The report helper installed with the tool whose executable lies in
// applicationDir, or empty when there is none.
std::string FindReportHelper(const QString& applicationDir);

// The name of the flasher program as the program search looks it up.
extern const char* const FlasherProgram;
