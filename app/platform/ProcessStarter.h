#pragma once

#include <string>
#include <vector>

// Starting an external program the way the shell's "open" does: found by the
// ordinary program search, in the current directory, detached, not waited for.

// The path of the executable the search finds for program on the given
// search path (directories separated by ':'), or empty. error is set to
// ENOENT when nothing is found, EACCES when only non-executable files are.
std::string FindProgram(const std::string& program, const std::string& searchPath, int& error);

// Starts the executable at path with its arguments (argv[0] is taken from
// program) in the current directory, detached, and returns 0 or the errno of
// a failed start. No shell is involved: the arguments reach the program as
// they are. The started process is never left as a zombie, and starts clean
// (see TCleanStart).
int StartDetached(const std::string& path, const std::string& program, const std::vector<std::string>& arguments);

// The argument vector execv takes: program, then arguments, then a null
// pointer. Its pointers point into the strings given, which must outlive it;
// made before fork, since allocating after it is not async-signal-safe.
std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& arguments);

// What a program we start inherits of ours: only the standard descriptors
// 0, 1 and 2, default signal dispositions and an empty signal mask. Whatever
// else is open or ignored here (the GUI's sockets, a signal the desktop left
// ignored) is ours, not the program's. Made before fork; ApplyInChild uses
// only async-signal-safe calls, so it may run between fork and exec even in
// a child of a threaded process.
class TCleanStart {
public:
    TCleanStart();
    // Besides 0, 1 and 2 keeps keepOpen open (none when it is below 3): the
    // descriptor through which the child reports a failed exec.
    void ApplyInChild(int keepOpen) const noexcept;

private:
    int descriptorLimit_;
};
