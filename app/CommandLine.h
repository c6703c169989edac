#pragma once

#include <string>
#include <vector>

// Splits a parameter line into arguments by the Windows command-line rules:
// blanks and tabs separate arguments; double quotes group; 2n backslashes
// before a quote give n backslashes and the quote toggles grouping, 2n+1 give
// n backslashes and a literal quote; a doubled quote inside a group is a
// literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(const std::string& line);
