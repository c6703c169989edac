#pragma once

// The known stream of the monitor benchmark and what checks it: numbered
// lines of varying length, written by a far end of its own (paced at a
// serial line's rate, or as fast as it can), and a checker that follows the
// receiver's output byte by byte, so that a byte lost, doubled or moved is
// found where it happens.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <time.h>
#include <unistd.h>

// Line n: its ten-digit number, then 20 to 80 letters that shift with n.
inline std::string StreamLine(std::uint64_t n)
{
    char number[16];
    std::snprintf(number, sizeof number, "%010llu", static_cast<unsigned long long>(n));
    std::string line = number;
    line += ' ';
    const std::size_t letters = 20 + (n * 7) % 61;
    for (std::size_t i = 0; i < letters; ++i)
        line += static_cast<char>('A' + (n + i) % 26);
    line += '\n';
    return line;
}

// What the far end wrote, sent to the measuring side when it is done.
struct WrittenTotals {
    std::uint64_t Bytes = 0;
    std::uint64_t Lines = 0;
};

// The far end: waits for a byte on start, then writes the stream to fd for
// the given seconds, paced at bytesPerSecond (0: as fast as fd takes it),
// ending on a whole line, and reports its totals on done.
inline void WriteStream(int fd, int start, int done, double seconds, std::uint64_t bytesPerSecond)
{
    char go = 0;
    if (::read(start, &go, 1) != 1)
        std::_Exit(0);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point begin = Clock::now();
    const Clock::time_point end = begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    WrittenTotals totals;
    std::string pending;
    auto writeOut = [&](std::size_t count) {
        std::size_t off = 0;
        while (off < count) {
            const ssize_t n = ::write(fd, pending.data() + off, count - off);
            if (n <= 0) {
                std::perror("far end: write");
                std::_Exit(1);
            }
            off += static_cast<std::size_t>(n);
        }
        pending.erase(0, count);
        totals.Bytes += count;
    };
    auto addLine = [&] { pending += StreamLine(totals.Lines++); };
    if (bytesPerSecond == 0) {
        // Whole lines in 64 KiB writes: the far end blocks when the
        // terminal's buffer is full, so nothing is lost on the way.
        while (Clock::now() < end) {
            while (pending.size() < (64u << 10))
                addLine();
            writeOut(pending.size());
        }
    } else {
        // Every 10 ms the bytes due so far, as a UART's driver hands them
        // over; lines are cut wherever the tick falls.
        timespec next{};
        ::clock_gettime(CLOCK_MONOTONIC, &next);
        for (;;) {
            next.tv_nsec += 10'000'000;
            if (next.tv_nsec >= 1'000'000'000) {
                next.tv_nsec -= 1'000'000'000;
                ++next.tv_sec;
            }
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            const Clock::time_point now = Clock::now();
            const double elapsed = std::chrono::duration<double>(now - begin).count();
            const auto due = static_cast<std::uint64_t>(elapsed * static_cast<double>(bytesPerSecond));
            while (totals.Bytes + pending.size() < due)
                addLine();
            if (now >= end)
                break;
            writeOut(static_cast<std::size_t>(due - totals.Bytes));
        }
    }
    writeOut(pending.size());
    if (::write(done, &totals, sizeof totals) != sizeof totals)
        std::_Exit(1);
    std::_Exit(0);
}

// Follows the stream as a receiver gave it back. Carriage returns are
// skipped (a terminal may add them); every other byte must be the next one.
class StreamChecker {
public:
    // False at the first byte that is not the one expected; the place is
    // in Error().
    bool Feed(const char* data, std::size_t size)
    {
        for (std::size_t i = 0; i < size && error_.empty(); ++i) {
            const char c = data[i];
            if (c == '\r')
                continue;
            if (pos_ == line_.size()) {
                line_ = StreamLine(lines_);
                pos_ = 0;
            }
            if (c != line_[pos_]) {
                char text[200];
                std::snprintf(text, sizeof text, "byte %llu (line %llu, column %zu): 0x%02X where 0x%02X was due",
                              static_cast<unsigned long long>(bytes_), static_cast<unsigned long long>(lines_), pos_,
                              static_cast<unsigned char>(c), static_cast<unsigned char>(line_[pos_]));
                error_ = text;
                return false;
            }
            ++bytes_;
            if (++pos_ == line_.size())
                ++lines_;
        }
        return error_.empty();
    }
    std::uint64_t Bytes() const { return bytes_; }
    std::uint64_t Lines() const { return lines_; }
    const std::string& Error() const { return error_; }

private:
    std::uint64_t bytes_ = 0;
    std::uint64_t lines_ = 0;
    std::string line_;
    std::size_t pos_ = 0;
    std::string error_;
};

// CPU seconds (user and system, all threads) and resident kilobytes of a
// process, from /proc.
inline double ProcessCpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command's name may hold spaces: the fields count from its ')'.
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    unsigned long long utime = 0, stime = 0;
    // Fields 3 to 13 are skipped; utime and stime are 14 and 15.
    std::sscanf(text.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime);
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

inline long ResidentKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return 0;
}
