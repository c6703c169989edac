#pragma once

// The guest's side of the control line: each request goes to the far end
// on the host, which does its part (sends, receives, holds the wire, sets
// its modem lines, sends a break, removes the PCI card) and answers.

#include "platform/UniqueFd.h"

#include <cstdint>
#include <string>

// Where the lines are in the guest: the emulator's second ISA UART carries
// the requests, the third is the line under test, the fourth brings breaks.
inline constexpr const char* ControlLinePath = "/dev/ttyS1";
inline constexpr const char* LinePath = "/dev/ttyS2";
inline constexpr const char* BreakLinePath = "/dev/ttyS3";

struct FarLines {
    bool dtr = false;
    bool rts = false;
    std::uint32_t breaks = 0;
};

class FarLine {
public:
    // Opens the control line; an error message when it cannot.
    std::string Open(const char* path);

    // The far end's answer without "ok "; a failed request raises.
    std::string Request(const std::string& request, int timeoutMs = 10000);

    // The wire: a held line takes nothing, so the guest's UART stays busy.
    void Hold() { Request("hold a"); }
    void Release() { Request("release a"); }
    void HoldFor(int ms) { Request("holdfor a " + std::to_string(ms)); }
    // Modem lines the far end presents, by letter: C CTS, D DSR, K carrier,
    // R ring; "-" none.
    void SetLines(const std::string& letters) { Request("lines a " + letters); }
    void SetLinesAfter(int ms, const std::string& letters)
    {
        Request("linesafter a " + std::to_string(ms) + " " + letters);
    }
    void Pulse(const std::string& letter, int ms) { Request("pulse a " + letter + " " + std::to_string(ms)); }
    // What the guest's UART drives, as the far end sees it.
    FarLines Lines();
    // Sends count bytes counting up from first.
    void Send(std::size_t count, unsigned first) { Request("send a " + std::to_string(count) + " " + std::to_string(first)); }
    void SendBytes(const std::string& bytes);
    // What arrived, up to count bytes, waiting at most timeoutMs.
    std::string Receive(std::size_t count, int timeoutMs);
    // Discards what arrived so far.
    void Flush() { Receive(1 << 20, 0); }
    void SendBreak() { Request("break"); }
    void UnplugCard() { Request("unplug", 20000); }

private:
    std::string ReadLine(int timeoutMs);

    Comm::UniqueFd fd_;
    std::string input_;
};

// The one control line of the guest program.
FarLine& Far();
