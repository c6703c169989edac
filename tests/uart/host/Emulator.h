#pragma once

// The emulator process: started with the modem-line library preloaded,
// killed on the way out if it is still running.

#include <string>
#include <vector>

class Emulator {
public:
    Emulator(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    int Pid() const { return pid_; }
    // Readable once the process has ended.
    int PidFd() const { return pidFd_; }
    // The exit status once it ended within timeoutMs, -1 otherwise.
    int WaitForExit(int timeoutMs);
    void Kill();

private:
    int pid_ = -1;
    int pidFd_ = -1;
};
