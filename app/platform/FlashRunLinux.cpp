// zorbel-flash-run FLASHER [ARGUMENT...]: what the terminal of a FLASH press
// runs. It starts the flasher with the arguments as they are (no shell),
// waits for it, says in French whether the update succeeded, and keeps the
// window open until Enter is pressed. Exits with the flasher's status, 128
// plus the signal that ended it, 127 when it could not be started, or 1 when
// its end could not be learned.

#include "FlashOutcome.h"
#include "ProcessStarter.h"

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string BaseName(const char* path)
{
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// How the flasher's run ended, as far as we could learn it.
struct TFlasherEnd {
    enum { NotStarted, NotWaited, Ended } kind = Ended;
    int status = 0; // the wait status, when Ended
    int error = 0;  // errno, when NotStarted or NotWaited
};

// While the flasher runs, Ctrl-C and Ctrl-\ in the terminal are for the
// flasher (it shares our process group and gets them with its default
// dispositions): we stay to tell its end. Set before fork, so that no key
// pressed after the flasher exists can end us first.
class TIgnoreTerminalSignals {
public:
    TIgnoreTerminalSignals()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGINT, &ignore, &interrupt_);
        ::sigaction(SIGQUIT, &ignore, &quit_);
    }
    ~TIgnoreTerminalSignals()
    {
        ::sigaction(SIGINT, &interrupt_, nullptr);
        ::sigaction(SIGQUIT, &quit_, nullptr);
    }
    TIgnoreTerminalSignals(const TIgnoreTerminalSignals&) = delete;
    TIgnoreTerminalSignals& operator=(const TIgnoreTerminalSignals&) = delete;

private:
    struct sigaction interrupt_ {};
    struct sigaction quit_ {};
};

// The errno a failed exec wrote to report, or 0 once the pipe reached end of
// file (a successful exec closed it).
int ReadStartError(int report)
{
    int startError = 0;
    ssize_t got;
    while ((got = ::read(report, &startError, sizeof startError)) < 0 && errno == EINTR) {
    }
    return got == static_cast<ssize_t>(sizeof startError) ? startError : 0;
}

TFlasherEnd WaitForFlasher(pid_t child)
{
    TFlasherEnd end;
    pid_t waited;
    while ((waited = ::waitpid(child, &end.status, 0)) < 0 && errno == EINTR) {
    }
    if (waited != child) {
        end.kind = TFlasherEnd::NotWaited;
        end.error = waited < 0 ? errno : ECHILD;
    }
    return end;
}

// Runs the flasher as a child of ours and waits for it.
TFlasherEnd RunFlasher(char** flasherArguments)
{
    // Everything the child needs is made before fork.
    const char* path = flasherArguments[0];
    const std::string program = BaseName(path);
    std::vector<char*> arguments{const_cast<char*>(program.c_str())};
    for (char** argument = flasherArguments + 1; *argument; ++argument)
        arguments.push_back(*argument);
    arguments.push_back(nullptr);
    const TCleanStart clean;
    // The exec failure comes back through a close-on-exec pipe.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return {TFlasherEnd::NotStarted, 0, errno};

    const TIgnoreTerminalSignals terminalSignals;
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return {TFlasherEnd::NotStarted, 0, error};
    }
    if (child == 0) {
        ::close(report[0]);
        clean.ApplyInChild(report[1]);
        ::execv(path, arguments.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    const int startError = ReadStartError(report[0]);
    ::close(report[0]);
    TFlasherEnd end = WaitForFlasher(child);
    if (startError != 0)
        return {TFlasherEnd::NotStarted, 0, startError};
    return end;
}

// Prints the outcome and returns our exit code.
int ReportOutcome(const TFlasherEnd& end, const char* flasher)
{
    std::fputs("\n", stdout);
    if (end.kind == TFlasherEnd::NotStarted) {
        std::fputs(FlashOutcome::NotStarted(flasher, std::strerror(end.error)).c_str(), stdout);
        return 127;
    }
    if (end.kind == TFlasherEnd::NotWaited) {
        std::fputs(FlashOutcome::NotWaited(flasher, std::strerror(end.error)).c_str(), stdout);
        return 1;
    }
    if (WIFEXITED(end.status)) {
        const int exitCode = WEXITSTATUS(end.status);
        std::fputs(FlashOutcome::Exited(static_cast<std::uint32_t>(exitCode)).c_str(), stdout);
        return exitCode;
    }
    std::fputs(FlashOutcome::Signalled(WTERMSIG(end.status)).c_str(), stdout);
    return 128 + WTERMSIG(end.status);
}

void WaitForEnter()
{
    std::fputs(FlashOutcome::CloseRequest, stdout);
    std::fflush(stdout);
    for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
    }
}

// Whoever started us may have left child signals ignored (then no wait
// status could ever be read: the flasher would be reaped unseen) or signals
// blocked. We start from the defaults.
void ResetSignals()
{
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &standard, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    // The system's texts in the user's language.
    std::setlocale(LC_ALL, "");
    if (argc < 2) {
        std::fputs(FlashOutcome::Usage, stderr);
        return 2;
    }
    ResetSignals();
    const TFlasherEnd end = RunFlasher(argv + 1);
    // The outcome and the request to close share the window's last line.
    const int exitCode = ReportOutcome(end, argv[1]);
    WaitForEnter();
    return exitCode;
}
