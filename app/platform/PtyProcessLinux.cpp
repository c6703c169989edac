#include "PtyProcess.h"

#include "ProcessStarter.h"
#include "UniqueFd.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using Comm::UniqueFd;

struct TPtyProcess::TState {
    pid_t pid = -1;
    UniqueFd master;
    UniqueFd exitFd;
};

namespace {

// What the child reports through its pipe when it cannot exec.
struct TChildFailure {
    int step;
    int error;
};

std::string ProgramSearchPath()
{
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/local/bin:/usr/bin:/bin";
}

// The search may answer with a path relative to our directory (a PATH entry
// such as "." or ""), while the program starts in another one.
std::string Absolute(const std::string& path)
{
    if (!path.empty() && path.front() == '/')
        return path;
    char here[PATH_MAX];
    if (::getcwd(here, sizeof here) == nullptr)
        return path;
    return std::string(here) + "/" + path;
}

// A terminal that hands on the program's bytes as they are: no output
// processing (a '\n' stays a '\n', so a '\r' in the output is the program's
// own), no echo of input nobody types.
int OpenTerminal(UniqueFd& master, UniqueFd& slave)
{
    master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.Valid() || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0)
        return errno;
    char name[128];
    if (::ptsname_r(master.Get(), name, sizeof name) != 0)
        return errno;
    slave.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave.Valid())
        return errno;
    termios mode {};
    if (::tcgetattr(slave.Get(), &mode) != 0)
        return errno;
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    if (::tcsetattr(slave.Get(), TCSANOW, &mode) != 0)
        return errno;
    // A terminal window's usual size, for programs that fit their lines to it.
    winsize size {};
    size.ws_row = 24;
    size.ws_col = 80;
    ::ioctl(slave.Get(), TIOCSWINSZ, &size);
    const int flags = ::fcntl(master.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(master.Get(), F_SETFL, flags | O_NONBLOCK) != 0)
        return errno;
    return 0;
}

[[noreturn]] void FailInChild(int report, TPtyStartStep step)
{
    const TChildFailure failure {static_cast<int>(step), errno};
    [[maybe_unused]] const ssize_t n = ::write(report, &failure, sizeof failure);
    ::_exit(127);
}

} // namespace

TPtyProcess::TPtyProcess() : state_(std::make_unique<TState>()) {}

TPtyProcess::~TPtyProcess()
{
    Stop(2000);
}

TPtyStartError TPtyProcess::Start(const std::string& program, const std::vector<std::string>& arguments,
                                  const std::string& workingDir)
{
    if (Running())
        return {EBUSY, TPtyStartStep::Process};
    int searchError = 0;
    const std::string path = FindProgram(program, ProgramSearchPath(), searchError);
    if (path.empty())
        return {static_cast<std::uint32_t>(searchError), TPtyStartStep::Program};
    const std::string absolutePath = Absolute(path);

    UniqueFd master;
    UniqueFd slave;
    if (const int error = OpenTerminal(master, slave); error != 0)
        return {static_cast<std::uint32_t>(error), TPtyStartStep::Terminal};

    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv = ArgumentVector(program, arguments);
    const TCleanStart clean;
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return {static_cast<std::uint32_t>(errno), TPtyStartStep::Process};
    UniqueFd reportRead(report[0]);
    UniqueFd reportWrite(report[1]);

    const pid_t child = ::fork();
    if (child < 0)
        return {static_cast<std::uint32_t>(errno), TPtyStartStep::Process};
    if (child == 0) {
        // A session of its own with the terminal as its controlling
        // terminal, as a terminal window starts a shell.
        ::setsid();
        if (::ioctl(slave.Get(), TIOCSCTTY, 0) != 0)
            FailInChild(reportWrite.Get(), TPtyStartStep::Terminal);
        for (int fd = 0; fd <= 2; ++fd)
            if (::dup2(slave.Get(), fd) < 0)
                FailInChild(reportWrite.Get(), TPtyStartStep::Terminal);
        if (::chdir(workingDir.c_str()) != 0)
            FailInChild(reportWrite.Get(), TPtyStartStep::Directory);
        clean.ApplyInChild(reportWrite.Get());
        ::execv(absolutePath.c_str(), argv.data());
        FailInChild(reportWrite.Get(), TPtyStartStep::Program);
    }
    // Asked at once: until we collect the child its number cannot be reused.
    UniqueFd exitFd;
#ifdef SYS_pidfd_open
    exitFd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
#endif
    // Only the child holds the terminal now: its end is the end of output.
    slave.Reset();
    reportWrite.Reset();

    // A successful exec closes the pipe (close-on-exec): end of file.
    TChildFailure failure {};
    ssize_t n;
    do {
        n = ::read(reportRead.Get(), &failure, sizeof failure);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof failure)) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        return {static_cast<std::uint32_t>(failure.error), static_cast<TPtyStartStep>(failure.step)};
    }
    state_->pid = child;
    state_->master = std::move(master);
    state_->exitFd = std::move(exitFd);
    return {};
}

bool TPtyProcess::Running() const
{
    return state_->pid > 0;
}

int TPtyProcess::OutputHandle() const
{
    return state_->master.Get();
}

int TPtyProcess::ExitHandle() const
{
    return state_->exitFd.Get();
}

long TPtyProcess::Read(char* buffer, std::size_t size)
{
    if (!state_->master.Valid())
        return -1;
    for (;;) {
        const ssize_t n = ::read(state_->master.Get(), buffer, size);
        if (n > 0)
            return static_cast<long>(n);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        // A terminal whose other side every holder closed reads as EIO once
        // what it held was read: the end of output, not a failure.
        return -1;
    }
}

void TPtyProcess::CloseOutput()
{
    state_->master.Reset();
}

bool TPtyProcess::Collect(bool wait, TPtyExit& exit)
{
    if (state_->pid <= 0)
        return false;
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(state_->pid, &status, wait ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done == 0)
        return false;
    if (done < 0) {
        // Someone else collected it (a SIGCHLD handler set to ignore): its
        // status is gone, the process is.
        exit = {-1, false};
    } else if (WIFSIGNALED(status)) {
        exit = {WTERMSIG(status), false};
    } else {
        exit = {WEXITSTATUS(status), true};
    }
    state_->pid = -1;
    state_->exitFd.Reset();
    return true;
}

void TPtyProcess::Terminate()
{
    // The program leads a session and a process group of its own: whatever
    // it started on the terminal is asked too.
    if (state_->pid > 0 && ::kill(-state_->pid, SIGTERM) != 0)
        ::kill(state_->pid, SIGTERM);
}

void TPtyProcess::Kill()
{
    if (state_->pid > 0 && ::kill(-state_->pid, SIGKILL) != 0)
        ::kill(state_->pid, SIGKILL);
}

void TPtyProcess::Stop(int graceMs)
{
    if (!Running())
        return;
    TPtyExit exit;
    if (Collect(false, exit))
        return;
    Terminate();
    // Wait for the end itself where the kernel tells it, else for the
    // terminal to be closed by its last holder.
    pollfd watch {};
    watch.fd = state_->exitFd.Valid() ? state_->exitFd.Get() : state_->master.Get();
    watch.events = state_->exitFd.Valid() ? POLLIN : POLLHUP;
    if (watch.fd >= 0) {
        int ready;
        do {
            ready = ::poll(&watch, 1, graceMs);
        } while (ready < 0 && errno == EINTR);
    }
    if (Collect(false, exit))
        return;
    Kill();
    Collect(true, exit);
}
