// The monitor receiving a known stream on a pseudo-terminal, against the
// terminal programs people use for the same thing, one receiver per run:
//   bench_monitor --receiver monitor|picocom|tio --mode paced|flood
//                 [--minutes M] [--timestamps] [--hex]
// "paced" writes at a 115200-baud line's rate (11520 bytes/s), "flood" as
// fast as the terminal takes it. The far end is a process of its own, so
// that its CPU is not counted. The monitor's window runs in this process on
// the offscreen platform, with a probe timer on its event loop that records
// the longest gap between two turns; its log file (which gets every line)
// is checked afterwards. A peer runs on a terminal of this program's own,
// which reads and checks what it shows. Prints a human report and one ROW
// line for bench/run-monitor.
#include "BenchPty.h"
#include "BenchStream.h"
#include "ComCtlLibrary.h"
#include "ComErrors.h"
#include "MonitorOptions.h"
#include "MonitorWindow.h"
#include "StreamModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t PacedRate = 11520;
// The probe's interval: a stall is how much later than this it fires.
constexpr int ProbeMs = 5;
// A receiver that takes nothing in this long after the far end is done
// has lost what is missing.
constexpr double QuietLimitSeconds = 30;

struct Options {
    std::string Receiver = "monitor";
    std::string Mode = "paced";
    double Minutes = 10;
    bool Timestamps = false;
    bool Hex = false;
};

struct Report {
    double Seconds = 0;
    std::uint64_t Expected = 0;
    std::uint64_t Checked = 0;
    double CpuSeconds = 0;
    double StallMs = -1;
    int Stalls50 = 0;
    // (seconds since the start, KiB), once a second.
    std::vector<std::pair<double, long>> Resident;
    std::string Error;
};

// The far end's pipes and process.
struct FarEnd {
    int Start = -1;
    int Done = -1;
    pid_t Pid = -1;

    void Go() const
    {
        if (::write(Start, "g", 1) != 1)
            std::perror("start");
    }
    bool ReadTotals(WrittenTotals& totals) const
    {
        return ::read(Done, &totals, sizeof totals) == static_cast<ssize_t>(sizeof totals);
    }
};

FarEnd StartFarEnd(int master, const Options& options)
{
    int start[2], done[2];
    if (::pipe(start) != 0 || ::pipe(done) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(start[1]);
        ::close(done[0]);
        WriteStream(master, start[0], done[1], options.Minutes * 60, options.Mode == "flood" ? 0 : PacedRate);
    }
    ::close(start[0]);
    ::close(done[1]);
    return {start[1], done[0], pid};
}

double Since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// ---- The monitor, in this process -------------------------------------------

void CheckLog(const QString& path, Report& report)
{
    std::ifstream in(path.toStdString());
    StreamChecker checker;
    std::string line;
    // "yyyy-MM-dd HH:mm:ss.zzz " before each line's text.
    constexpr std::size_t Stamp = 24;
    while (report.Error.empty() && std::getline(in, line)) {
        if (line.size() < Stamp) {
            report.Error = "a log line without its time: " + line;
            break;
        }
        line.erase(0, Stamp);
        line += '\n';
        if (!checker.Feed(line.data(), line.size()))
            report.Error = "log: " + checker.Error();
    }
    report.Checked = checker.Bytes();
}

Report RunMonitor(const Options& options, BenchPty& pty, const FarEnd& farEnd, char* program)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The monitor's remembered choices go to a folder of the run's own.
    char dir[] = "/tmp/bench-monitor-XXXXXX";
    if (!::mkdtemp(dir)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    qputenv("XDG_CONFIG_HOME", dir);
    InitPortErrorMessages();
    InitComCtlLibrary();
    Report report;
    const QString logPath = QString::fromLatin1(dir) + QStringLiteral("/monitor.log");
    {
        int argc = 1;
        char* argv[] = {program, nullptr};
        QApplication app(argc, argv);
        TMonitorOptions monitorOptions;
        monitorOptions.Port = QString::fromStdString(pty.path);
        monitorOptions.Speed = 115200;
        monitorOptions.LogFile = logPath;
        monitorOptions.Timestamps = options.Timestamps;
        monitorOptions.Hex = options.Hex;
        monitorOptions.NoReset = true;
        TMonitorWindow window(monitorOptions);
        window.resize(1280, 640);
        window.show();
        auto* model = window.findChild<TStreamModel*>();

        Clock::time_point begin;
        double cpuAtStart = 0;
        WrittenTotals totals;
        bool haveTotals = false;
        bool finished = false;
        qint64 lastCount = 0;
        Clock::time_point lastProgress;

        QElapsedTimer sinceProbe;
        qint64 worstGapNs = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(ProbeMs);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 gap = sinceProbe.nsecsElapsed();
            sinceProbe.restart();
            worstGapNs = std::max(worstGapNs, gap);
            if (gap > (ProbeMs + 50) * 1'000'000LL)
                ++report.Stalls50;
        });

        auto finish = [&](const std::string& error) {
            if (finished)
                return;
            finished = true;
            report.Seconds = Since(begin);
            report.CpuSeconds = ProcessCpuSeconds(::getpid()) - cpuAtStart;
            report.Resident.emplace_back(report.Seconds, ResidentKiB(::getpid()));
            report.Error = error;
            app.quit();
        };
        auto checkEnd = [&] {
            if (haveTotals && static_cast<std::uint64_t>(model->BytesReceived()) >= totals.Bytes)
                finish({});
        };
        QObject::connect(model, &TStreamModel::Batch, checkEnd);

        QTimer sampler;
        sampler.setInterval(1000);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            report.Resident.emplace_back(Since(begin), ResidentKiB(::getpid()));
            if (model->BytesReceived() != lastCount) {
                lastCount = model->BytesReceived();
                lastProgress = Clock::now();
            } else if (haveTotals && Since(lastProgress) > QuietLimitSeconds) {
                finish("the monitor stopped receiving");
            }
        });

        QSocketNotifier doneNotifier(farEnd.Done, QSocketNotifier::Read);
        QObject::connect(&doneNotifier, &QSocketNotifier::activated, [&] {
            doneNotifier.setEnabled(false);
            haveTotals = farEnd.ReadTotals(totals);
            report.Expected = totals.Bytes;
            if (!haveTotals)
                finish("the far end failed");
            lastProgress = Clock::now();
            checkEnd();
        });

        // Queued after the window's own open of the port.
        QTimer::singleShot(0, [&] {
            if (!window.Port().Connected()) {
                std::fprintf(stderr, "the monitor did not open %s: %s\n", pty.path.c_str(), qPrintable(window.Status()));
                app.exit(1);
                return;
            }
            begin = Clock::now();
            lastProgress = begin;
            cpuAtStart = ProcessCpuSeconds(::getpid());
            farEnd.Go();
            sinceProbe.start();
            probe.start();
            sampler.start();
        });
        if (app.exec() != 0)
            std::exit(1);
        report.StallMs = static_cast<double>(worstGapNs) / 1e6 - ProbeMs;
        window.ClosePort();
    }
    DoneComCtlLibrary();
    if (report.Error.empty())
        CheckLog(logPath, report);
    if (report.Error.empty() && report.Checked != report.Expected)
        report.Error = "the log holds " + std::to_string(report.Checked) + " of " + std::to_string(report.Expected) +
                       " bytes";
    ::unlink(logPath.toLocal8Bit().constData());
    ::unlink((std::string(dir) + "/zorbel-monitor.ini").c_str());
    return report;
}

// ---- A peer on a terminal of this program's own -----------------------------

// Reads the peer's terminal until text has been shown or seconds have gone.
bool AwaitText(int terminal, const std::string& text, double seconds)
{
    std::string seen;
    const Clock::time_point begin = Clock::now();
    while (Since(begin) < seconds) {
        pollfd p{terminal, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        seen.append(buffer, static_cast<std::size_t>(n));
        if (seen.find(text) != std::string::npos)
            return true;
    }
    std::fprintf(stderr, "the peer said: %s\n", seen.c_str());
    return false;
}

Report RunPeer(const Options& options, BenchPty& pty, const FarEnd& farEnd)
{
    Report report;
    int terminal = -1;
    winsize size{40, 120, 0, 0};
    const std::string logPath = "/tmp/bench-" + options.Receiver + "-" + std::to_string(::getpid()) + ".log";
    const pid_t peer = ::forkpty(&terminal, nullptr, nullptr, &size);
    if (peer == 0) {
        if (options.Receiver == "picocom")
            ::execlp("picocom", "picocom", "-b", "115200", "--noreset", "--nolock", "--logfile", logPath.c_str(),
                     pty.path.c_str(), nullptr);
        else
            ::execlp("tio", "tio", "-b", "115200", "--log", "--log-file", logPath.c_str(), pty.path.c_str(), nullptr);
        std::perror("exec");
        std::_Exit(127);
    }
    const std::string ready = options.Receiver == "picocom" ? "Terminal ready" : "Connected";
    if (!AwaitText(terminal, ready, 10)) {
        std::fprintf(stderr, "%s did not get ready\n", options.Receiver.c_str());
        std::exit(1);
    }
    // The banner's last line may still be coming: the stream is found by
    // its first line's number.
    const Clock::time_point begin = Clock::now();
    const double cpuAtStart = ProcessCpuSeconds(peer);
    farEnd.Go();
    StreamChecker checker;
    std::string before;
    bool synced = false;
    WrittenTotals totals;
    bool haveTotals = false;
    std::uint64_t lastChecked = 0;
    Clock::time_point lastProgress = begin;
    double nextSample = 0;
    for (;;) {
        if (Since(begin) >= nextSample) {
            report.Resident.emplace_back(Since(begin), ResidentKiB(peer));
            nextSample += 1;
        }
        if (haveTotals && checker.Bytes() >= totals.Bytes)
            break;
        if (!checker.Error().empty()) {
            report.Error = checker.Error();
            break;
        }
        if (haveTotals && Since(lastProgress) > QuietLimitSeconds) {
            report.Error = "the peer stopped showing the stream";
            break;
        }
        pollfd p[2] = {{terminal, POLLIN, 0}, {haveTotals ? -1 : farEnd.Done, POLLIN, 0}};
        if (::poll(p, 2, 200) <= 0)
            continue;
        if (p[1].revents != 0) {
            haveTotals = farEnd.ReadTotals(totals);
            report.Expected = totals.Bytes;
        }
        if (p[0].revents == 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::read(terminal, buffer, sizeof buffer);
        if (n <= 0) {
            report.Error = "the peer's terminal closed";
            break;
        }
        if (synced) {
            checker.Feed(buffer, static_cast<std::size_t>(n));
        } else {
            before.append(buffer, static_cast<std::size_t>(n));
            const std::size_t at = before.find(StreamLine(0).substr(0, 11));
            if (at != std::string::npos) {
                synced = true;
                checker.Feed(before.data() + at, before.size() - at);
            }
        }
        if (checker.Bytes() != lastChecked) {
            lastChecked = checker.Bytes();
            lastProgress = Clock::now();
        }
    }
    report.Seconds = Since(begin);
    report.CpuSeconds = ProcessCpuSeconds(peer) - cpuAtStart;
    report.Resident.emplace_back(report.Seconds, ResidentKiB(peer));
    report.Checked = checker.Bytes();
    ::kill(peer, SIGTERM);
    for (int i = 0; i < 50 && ::waitpid(peer, nullptr, WNOHANG) == 0; ++i)
        ::usleep(100'000);
    ::kill(peer, SIGKILL);
    ::waitpid(peer, nullptr, 0);
    ::close(terminal);
    ::unlink(logPath.c_str());
    return report;
}

// ---- Report -------------------------------------------------------------------

double MiB(long kib)
{
    return static_cast<double>(kib) / 1024.0;
}

// The resident size at the time nearest to seconds.
long ResidentAt(const Report& report, double seconds)
{
    long best = 0;
    double distance = 1e18;
    for (const auto& [t, kib] : report.Resident) {
        if (std::abs(t - seconds) < distance) {
            distance = std::abs(t - seconds);
            best = kib;
        }
    }
    return best;
}

void Print(const Options& options, const Report& report)
{
    const double megabytes = static_cast<double>(report.Checked) / 1e6;
    const double rate = report.Seconds > 0 ? static_cast<double>(report.Checked) / report.Seconds : 0;
    const double cpuPerMB = megabytes > 0 ? report.CpuSeconds * 1000 / megabytes : 0;
    std::string name = options.Receiver;
    if (options.Timestamps)
        name += "+ts";
    if (options.Hex)
        name += "+hex";
    std::printf("%s, %s: %.1f s, %.2f MB checked of %.2f MB written\n", name.c_str(), options.Mode.c_str(),
                report.Seconds, megabytes, static_cast<double>(report.Expected) / 1e6);
    std::printf("  shown: %.0f bytes/s; CPU: %.2f s, %.1f ms per MB\n", rate, report.CpuSeconds, cpuPerMB);
    if (report.StallMs >= 0)
        std::printf("  worst event-loop stall: %.1f ms (%d over 50 ms)\n", report.StallMs, report.Stalls50);
    std::printf("  resident (MiB) by tenth of the run:");
    for (int i = 1; i <= 10; ++i)
        std::printf(" %.1f", MiB(ResidentAt(report, report.Seconds * i / 10)));
    std::printf("\n  %s\n", report.Error.empty() ? "every byte in order" : ("LOST OR REORDERED: " + report.Error).c_str());
    // The minute mark (or a tenth of a shorter run) is the base of growth:
    // what came after the window filled its scrollback.
    const long base = ResidentAt(report, std::min(60.0, report.Seconds / 10));
    const long end = report.Resident.empty() ? 0 : report.Resident.back().second;
    char stall[32] = "-";
    if (report.StallMs >= 0)
        std::snprintf(stall, sizeof stall, "%.1f", report.StallMs);
    std::printf("ROW %s %s %.1f %.0f %.1f %s %.1f %.1f %+.1f %s\n", name.c_str(), options.Mode.c_str(),
                report.Seconds / 60, rate, cpuPerMB, stall, MiB(base), MiB(end), MiB(end - base),
                report.Error.empty() ? "ok" : "LOSS");
    std::fflush(stdout);
}

bool Parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--receiver" && hasValue)
            options.Receiver = argv[++i];
        else if (arg == "--mode" && hasValue)
            options.Mode = argv[++i];
        else if (arg == "--minutes" && hasValue)
            options.Minutes = std::atof(argv[++i]);
        else if (arg == "--timestamps")
            options.Timestamps = true;
        else if (arg == "--hex")
            options.Hex = true;
        else
            return false;
    }
    const bool receiverKnown =
        options.Receiver == "monitor" || options.Receiver == "picocom" || options.Receiver == "tio";
    return receiverKnown && (options.Mode == "paced" || options.Mode == "flood") && options.Minutes > 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: bench_monitor --receiver monitor|picocom|tio --mode paced|flood "
                             "[--minutes M] [--timestamps] [--hex]\n");
        return 2;
    }
    BenchPty pty;
    // Before any thread exists: the far end is a plain fork.
    const FarEnd farEnd = StartFarEnd(pty.master, options);
    const Report report =
        options.Receiver == "monitor" ? RunMonitor(options, pty, farEnd, argv[0]) : RunPeer(options, pty, farEnd);
    ::kill(farEnd.Pid, SIGTERM);
    ::waitpid(farEnd.Pid, nullptr, 0);
    Print(options, report);
    return report.Error.empty() ? 0 : 1;
}
