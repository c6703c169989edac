#include "Emulator.h"

#include "UnixSocket.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

extern char** environ;

Emulator::Emulator(const std::vector<std::string>& arguments, const std::vector<std::string>& extraEnvironment)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp(extraEnvironment.size());
    for (std::size_t i = 0; i < extraEnvironment.size(); ++i)
        envp[i] = const_cast<char*>(extraEnvironment[i].c_str());
    for (char** variable = environ; *variable; ++variable)
        envp.push_back(*variable);
    envp.push_back(nullptr);
    // The console is the emulator's standard output; it reads no input.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    const int failed = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        throw std::system_error(failed, std::generic_category(), "starting " + arguments[0]);
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (pidFd_ < 0)
        throw std::system_error(errno, std::generic_category(), "pidfd_open");
}

Emulator::~Emulator()
{
    Kill();
    ::close(pidFd_);
}

int Emulator::WaitForExit(int timeoutMs)
{
    if (pid_ < 0)
        return -1;
    if (!WaitReadable(pidFd_, timeoutMs))
        return -1;
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void Emulator::Kill()
{
    if (pid_ < 0)
        return;
    ::kill(pid_, SIGKILL);
    WaitForExit(5000);
}
