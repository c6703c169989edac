#include "ProcessStarter.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

std::string FindProgram(const std::string& program, const std::string& searchPath, int& error)
{
    error = ENOENT;
    if (program.find('/') != std::string::npos) {
        if (::access(program.c_str(), X_OK) == 0)
            return program;
        error = errno;
        return {};
    }
    std::stringstream dirs(searchPath);
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        error = EACCES;
    }
    return {};
}

namespace {

// close_range where the kernel has it (5.9 and later), else one close per
// descriptor that can exist.
void CloseDescriptors(unsigned first, unsigned last, int limit) noexcept
{
    if (first > last || ::close_range(first, last, 0) == 0)
        return;
    for (unsigned fd = first; fd <= last && fd < static_cast<unsigned>(limit); ++fd)
        ::close(static_cast<int>(fd));
}

} // namespace

TCleanStart::TCleanStart()
{
    // Asked here: sysconf is not async-signal-safe.
    const long limit = ::sysconf(_SC_OPEN_MAX);
    descriptorLimit_ = limit > 0 && limit < INT_MAX ? static_cast<int>(limit) : 65536;
}

void TCleanStart::ApplyInChild(int keepOpen) const noexcept
{
    // Dispositions first, the mask after: unblocked earlier, a signal could
    // still run one of our handlers in the child. SIGKILL, SIGSTOP and the C
    // library's own signals refuse the change and stay as they are.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        ::sigaction(signal, &standard, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (keepOpen < 3) {
        CloseDescriptors(3, ~0U, descriptorLimit_);
        return;
    }
    const auto keep = static_cast<unsigned>(keepOpen);
    CloseDescriptors(3, keep - 1, descriptorLimit_);
    CloseDescriptors(keep + 1, ~0U, descriptorLimit_);
}

std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int StartDetached(const std::string& path, const std::string& program, const std::vector<std::string>& arguments)
{
    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv = ArgumentVector(program, arguments);
    const TCleanStart clean;

    // The grandchild reports a failed exec through this pipe; a successful
    // exec closes it (close-on-exec) and the read sees end of file.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return errno;

    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        return error;
    }
    if (child == 0) {
        ::close(report[0]);
        ::setsid();
        clean.ApplyInChild(report[1]);
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execv(path.c_str(), argv.data());
            const int error = errno;
            [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        int error = grandchild < 0 ? errno : 0;
        if (error != 0) {
            [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
        }
        // The intermediate child ends at once, so the flasher is adopted by
        // init and never becomes our zombie.
        ::_exit(0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    return n == sizeof error ? error : 0;
}
