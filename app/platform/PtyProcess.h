#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A program run on a pseudo-terminal of its own, as if started from a
// terminal window: programs that draw progress only for a person at a
// terminal draw it here too, and everything they print comes back through one
// descriptor. No shell is involved. The caller watches two descriptors with
// its own event loop: OutputHandle for what the program prints, ExitHandle
// for its end.

// The step of a start that failed.
enum class TPtyStartStep {
    None,      // started
    Program,   // not found, not executable, or exec failed
    Terminal,  // no pseudo-terminal could be made
    Directory, // the working directory could not be entered
    Process,   // no process could be made
};

struct TPtyStartError {
    // errno on Linux, a Win32 error code on Windows; 0 when started.
    std::uint32_t error = 0;
    TPtyStartStep step = TPtyStartStep::None;
};

// How a program ended: its exit status, or the signal that ended it.
struct TPtyExit {
    int status = 0;
    bool normal = true;
};

class TPtyProcess {
public:
    TPtyProcess();
    // A program still running is stopped as Stop does, with a short grace.
    ~TPtyProcess();
    TPtyProcess(const TPtyProcess&) = delete;
    TPtyProcess& operator=(const TPtyProcess&) = delete;

    // Starts program, looked up by the ordinary program search (the
    // directories of PATH), with arguments, in workingDir, its standard
    // input, output and error on the terminal, which is also its controlling
    // terminal. Clean as TCleanStart makes a start: nothing of ours leaks in.
    TPtyStartError Start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingDir);

    bool Running() const;

    // Readable when the program has printed something, or its output ended;
    // -1 when there is no output to watch.
    int OutputHandle() const;
    // Readable once the program has ended; -1 when the kernel cannot tell
    // (no process descriptors): then the end of output stands for it.
    int ExitHandle() const;

    // Reads what the program printed, without blocking. The count of bytes
    // read; 0 when nothing is waiting; -1 at the end of output (every holder
    // of the terminal closed it: the program ended).
    long Read(char* buffer, std::size_t size);
    // Gives up the output; what was not read is dropped.
    void CloseOutput();

    // Collects the program's end once it ended: true and exit set, else
    // false. With wait, blocks until it ends: only for when it is known to be
    // ending (its output closed).
    bool Collect(bool wait, TPtyExit& exit);

    // Asks the program (and whatever it started on the terminal) to end.
    void Terminate();
    // Ends it at once.
    void Kill();
    // Terminate, Kill after graceMs if still running, and collect.
    void Stop(int graceMs);

private:
    struct TState;
    std::unique_ptr<TState> state_;
};
