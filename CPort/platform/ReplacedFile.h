#pragma once

// Replacing a file as a whole, so that a failure at any point leaves the
// previous file as it was and no temporary file beside it: the data goes to
// a temporary file in the same folder, is flushed to disk and closed, and
// only then renamed over the old file. Every step's result is checked: a
// save the system did not carry out in full is refused.

#include <cstddef>
#include <string>

namespace Platform {

// Replaces the file at path (UTF-8) with size bytes from data. A symbolic
// link is written through to its target and stays a link; a hard link to the
// file is split from it. An existing file keeps its permissions (and on Linux
// its owner where this process may give it); a new one gets the usual ones.
// A file with no write permission at all is refused, even to an
// administrator, with the reason an ordinary user would get: that is how its
// owner says "keep this as it is". Returns an empty text on success, else
// the system's reason.
std::string ReplaceFileWith(const std::string& path, const void* data, std::size_t size);

} // namespace Platform
