#include "FarEnd.h"

#include "UnixSocket.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <sstream>

namespace {

std::vector<std::string> Words(const std::string& text)
{
    std::istringstream stream(text);
    std::vector<std::string> words;
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::string FromHex(const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return bytes;
}

// Modem lines by letter: C CTS, D DSR, K carrier (DCD), R ring; "-" none.
std::uint32_t LineMask(const std::string& letters)
{
    std::uint32_t mask = 0;
    for (char c : letters)
        mask |= c == 'C' ? TIOCM_CTS : c == 'D' ? TIOCM_DSR : c == 'K' ? TIOCM_CD : c == 'R' ? TIOCM_RI : 0;
    return mask;
}

std::string Pattern(std::size_t count, unsigned first)
{
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<char>((first + i) & 0xff);
    return bytes;
}

} // namespace

FarEnd::FarEnd(int control, std::map<std::string, PtyLine*> lines, int breakLine, int monitor)
    : control_(control), lines_(std::move(lines)), breakLine_(breakLine), monitor_(monitor)
{
}

FarEnd::Outcome FarEnd::Serve(int pidFd, Clock::time_point bootDeadline, Clock::time_point deadline)
{
    while (!outcome_.guestReported) {
        if (!hello_ && Clock::now() >= bootDeadline)
            return {false, -1, "the guest did not start its cases in time"};
        if (Clock::now() >= deadline)
            return {false, -1, "the rig's time ran out"};
        pollfd entries[3] = {{control_, POLLIN, 0}, {pidFd, POLLIN, 0}, {-1, POLLIN, 0}};
        if (receive_)
            entries[2].fd = receive_->line->Master();
        const int ready = ::poll(entries, 3, NextTimeoutMs(hello_ ? deadline : std::min(deadline, bootDeadline)));
        if (ready < 0 && errno != EINTR)
            return {false, -1, "poll failed"};
        RunDueActions();
        if (receive_)
            ServePendingReceive((entries[2].revents & POLLIN) != 0);
        if (entries[0].revents & POLLIN)
            ReadControl();
        if ((entries[1].revents & POLLIN) && !outcome_.guestReported)
            return {false, -1, "the emulator ended before the guest reported"};
    }
    return outcome_;
}

int FarEnd::NextTimeoutMs(Clock::time_point deadline) const
{
    Clock::time_point next = deadline;
    for (const TimedAction& timed : timed_)
        next = std::min(next, timed.when);
    if (receive_)
        next = std::min(next, receive_->deadline);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, 60000));
}

void FarEnd::RunDueActions()
{
    const Clock::time_point now = Clock::now();
    std::vector<TimedAction> due;
    auto notDue = std::partition(timed_.begin(), timed_.end(), [&](const TimedAction& t) { return t.when > now; });
    std::move(notDue, timed_.end(), std::back_inserter(due));
    timed_.erase(notDue, timed_.end());
    for (TimedAction& timed : due)
        timed.action();
}

void FarEnd::ReadControl()
{
    char buffer[4096];
    const ssize_t got = ::read(control_, buffer, sizeof buffer);
    if (got <= 0)
        return;
    controlInput_.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = controlInput_.find('\n')) != std::string::npos;) {
        std::string request = controlInput_.substr(0, end);
        controlInput_.erase(0, end + 1);
        if (!request.empty() && request.back() == '\r')
            request.pop_back();
        if (!request.empty())
            Handle(request);
    }
}

void FarEnd::ServePendingReceive(bool readable)
{
    PendingReceive& pending = *receive_;
    // Takes all that is there now, so a receive with no time left still
    // collects what already arrived.
    while (pending.bytes.size() < pending.count && (readable || WaitReadable(pending.line->Master(), 0))) {
        readable = false;
        char buffer[4096];
        const std::size_t want = std::min(sizeof buffer, pending.count - pending.bytes.size());
        const ssize_t got = ::read(pending.line->Master(), buffer, want);
        if (got <= 0)
            break;
        pending.bytes.append(buffer, static_cast<std::size_t>(got));
    }
    if (pending.bytes.size() >= pending.count || Clock::now() >= pending.deadline) {
        const std::string reply = "ok " + std::to_string(pending.bytes.size()) + " " + Hex(pending.bytes);
        receive_.reset();
        Reply(reply);
    }
}

void FarEnd::Handle(const std::string& request)
{
    const std::vector<std::string> words = Words(request);
    try {
        if (const std::optional<std::string> reply = Execute(words))
            Reply(*reply);
    } catch (const std::exception& e) {
        Reply(std::string("err ") + e.what());
    }
}

std::optional<std::string> FarEnd::Execute(const std::vector<std::string>& words)
{
    const std::string& verb = words.at(0);
    if (verb == "hello") {
        hello_ = true;
        return "ok";
    }
    if (verb == "done") {
        outcome_ = {true, std::stoi(words.at(1)), ""};
        return "ok";
    }
    if (verb == "break") {
        // A telnet BREAK: the emulator's socket backend passes it to the UART.
        static const unsigned char iacBreak[] = {255, 243};
        return WriteAll(breakLine_, iacBreak, sizeof iacBreak) ? "ok" : "err break line";
    }
    if (verb == "unplug")
        return Unplug();
    if (verb == "cancel") {
        timed_.clear();
        return "ok";
    }
    if (verb == "after") {
        // Runs the rest of the request later; its answer goes nowhere.
        const std::vector<std::string> rest(words.begin() + 2, words.end());
        timed_.push_back({Clock::now() + std::chrono::milliseconds(std::stoi(words.at(1))), [this, rest] {
                              try {
                                  Execute(rest);
                              } catch (const std::exception& e) {
                                  std::fprintf(stderr, "far end: a delayed request failed: %s\n", e.what());
                              }
                          }});
        return "ok";
    }
    if (verb == "note") {
        std::fprintf(stderr, "far end: guest notes:");
        for (std::size_t i = 1; i < words.size(); ++i)
            std::fprintf(stderr, " %s", words[i].c_str());
        std::fprintf(stderr, "\n");
        return "ok";
    }
    PtyLine* line = words.size() > 1 ? Line(words[1]) : nullptr;
    if (!line)
        return "err unknown request or line: " + verb;
    return ExecuteLineCommand(words, *line);
}

std::optional<std::string> FarEnd::ExecuteLineCommand(const std::vector<std::string>& w, PtyLine& line)
{
    const std::string& verb = w[0];
    const auto later = [&](std::size_t index) { return Clock::now() + std::chrono::milliseconds(std::stoi(w.at(index))); };
    ModemLineState& lines = line.Lines();
    if (verb == "hold" || verb == "release") {
        line.Hold(verb == "hold");
    } else if (verb == "holdfor") {
        line.Hold(true);
        timed_.push_back({later(2), [&line] { line.Hold(false); }});
    } else if (verb == "pace") {
        Pace(line, std::stoi(w.at(2)), std::stoi(w.at(3)), std::stoi(w.at(4)));
    } else if (verb == "lines") {
        lines.farLines = LineMask(w.at(2));
    } else if (verb == "linesafter") {
        const std::uint32_t mask = LineMask(w.at(3));
        timed_.push_back({later(2), [&lines, mask] { lines.farLines = mask; }});
    } else if (verb == "pulse") {
        const std::uint32_t bit = LineMask(w.at(2));
        lines.farLines |= bit;
        timed_.push_back({later(3), [&lines, bit] { lines.farLines &= ~bit; }});
    } else if (verb == "get") {
        const std::uint32_t near = lines.nearLines;
        return "ok dtr=" + std::to_string((near & TIOCM_DTR) != 0) + " rts=" + std::to_string((near & TIOCM_RTS) != 0) +
               " breaks=" + std::to_string(lines.breaks.load());
    } else if (verb == "send" || verb == "sendhex") {
        const std::string bytes = verb == "send" ? Pattern(std::stoul(w.at(2)), std::stoul(w.at(3))) : FromHex(w.at(2));
        if (!WriteAll(line.Master(), bytes.data(), bytes.size()))
            return "err writing to " + line.Name();
    } else if (verb == "recv") {
        receive_ = PendingReceive{&line, std::stoul(w.at(2)), later(3), {}};
        ServePendingReceive(false);
        return std::nullopt;
    } else {
        return "err unknown request " + verb;
    }
    return "ok";
}

void FarEnd::Pace(PtyLine& line, int periodMs, int openMs, int steps)
{
    // A slow line: held, and let go for a moment once per period, so the
    // output keeps moving a little at a time; free again after the last step.
    line.Hold(true);
    const Clock::time_point start = Clock::now();
    for (int step = 1; step <= steps; ++step) {
        const Clock::time_point letGo = start + std::chrono::milliseconds(step * periodMs);
        timed_.push_back({letGo, [&line] { line.Hold(false); }});
        if (step < steps)
            timed_.push_back({letGo + std::chrono::milliseconds(openMs), [&line] { line.Hold(true); }});
    }
}

std::string FarEnd::Unplug()
{
    static const char command[] = "device_del pcis\n";
    if (!WriteAll(monitor_, command, sizeof command - 1))
        return "err monitor";
    // The monitor echoes the command and prompts again once it has run it.
    std::string answer;
    while (answer.find("(qemu)") == std::string::npos && WaitReadable(monitor_, 5000)) {
        char buffer[512];
        const ssize_t got = ::read(monitor_, buffer, sizeof buffer);
        if (got <= 0)
            break;
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    if (answer.find("Error") != std::string::npos || answer.find("(qemu)") == std::string::npos)
        return "err monitor said: " + Hex(answer);
    return "ok";
}

void FarEnd::Reply(const std::string& text)
{
    const std::string line = text + "\n";
    WriteAll(control_, line.data(), line.size());
}

PtyLine* FarEnd::Line(const std::string& name)
{
    const auto found = lines_.find(name);
    return found == lines_.end() ? nullptr : found->second;
}
