#pragma once

// The host's end of the rig: serves the guest's requests on the control
// line (send, receive, hold the wire, set and read modem lines, send a
// break, remove the PCI card) until the guest reports its result.

#include "PtyLine.h"
#include "platform/UniqueFd.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class FarEnd {
public:
    using Clock = std::chrono::steady_clock;

    struct Outcome {
        bool guestReported = false;
        int failedCases = -1;
        std::string why; // set when the guest never reported
    };

    FarEnd(int control, std::map<std::string, PtyLine*> lines, int breakLine, int monitor);

    // Serves until the guest says "done", the emulator exits (pidFd readable)
    // or the deadline passes. A guest that has not said "hello" by
    // bootDeadline ends it too.
    Outcome Serve(int pidFd, Clock::time_point bootDeadline, Clock::time_point deadline);

private:
    struct TimedAction {
        Clock::time_point when;
        std::function<void()> action;
    };
    struct PendingReceive {
        PtyLine* line;
        std::size_t count;
        Clock::time_point deadline;
        std::string bytes;
    };

    int NextTimeoutMs(Clock::time_point deadline) const;
    void RunDueActions();
    void ReadControl();
    void ServePendingReceive(bool readable);
    void Handle(const std::string& request);
    // The reply, or nothing when it comes later (a receive in progress).
    std::optional<std::string> Execute(const std::vector<std::string>& words);
    std::optional<std::string> ExecuteLineCommand(const std::vector<std::string>& words, PtyLine& line);
    void Pace(PtyLine& line, int periodMs, int openMs, int steps);
    std::string Unplug();
    void Reply(const std::string& text);
    PtyLine* Line(const std::string& name);

    int control_;
    std::map<std::string, PtyLine*> lines_;
    int breakLine_;
    int monitor_;
    std::string controlInput_;
    std::vector<TimedAction> timed_;
    std::optional<PendingReceive> receive_;
    bool hello_ = false;
    Outcome outcome_;
};
