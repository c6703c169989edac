#include "CommandLineQuote.h"

namespace Platform {

namespace {

bool NeedsQuotes(std::string_view argument)
{
    return argument.empty() || argument.find_first_of(" \t\n\v\"") != std::string_view::npos;
}

} // namespace

// Inside quotes, backslashes are literal except in a run that ends at a
// quote: such a run is doubled, and the quote itself escaped with one more;
// a run at the very end is doubled so that the closing quote stays one.
std::string QuoteArgument(std::string_view argument)
{
    if (!NeedsQuotes(argument))
        return std::string(argument);
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"')
            quoted.append(backslashes * 2 + 1, '\\');
        else
            quoted.append(backslashes, '\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

std::string JoinCommandLine(std::string_view program, const std::vector<std::string>& arguments)
{
    std::string line = "\"";
    line.append(program);
    line.push_back('"');
    for (const std::string& argument : arguments) {
        line.push_back(' ');
        line.append(QuoteArgument(argument));
    }
    return line;
}

} // namespace Platform
