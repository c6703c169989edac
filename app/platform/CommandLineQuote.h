#pragma once

// Command lines for Windows programs, which receive one string and split it
// themselves, as CommandLineToArgvW and the C runtime do. Building the line
// by those rules lets every argument arrive whole and unchanged, whatever it
// holds (spaces, quotes, backslashes, %, ^, &), without cmd.exe in between.

#include <string>
#include <string_view>
#include <vector>

namespace Platform {

// One argument after the program's name, as the parser reads it back.
std::string QuoteArgument(std::string_view argument);

// The program's path, then each argument. The program's name is read by a
// rule of its own (up to the next quote, no escapes), so it is only ever
// enclosed in quotes; a Windows path holds none.
std::string JoinCommandLine(std::string_view program, const std::vector<std::string>& arguments);

} // namespace Platform
