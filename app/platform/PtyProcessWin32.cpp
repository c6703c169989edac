#include "PtyProcess.h"

#include <windows.h>

// Windows has no terminal to lend a program through a descriptor: the
// flasher there runs in a console of its own (FlashStart.h). A start here
// says so in the system's words.

struct TPtyProcess::TState {};

TPtyProcess::TPtyProcess() : state_(std::make_unique<TState>()) {}

TPtyProcess::~TPtyProcess() = default;

TPtyStartError TPtyProcess::Start(const std::string&, const std::vector<std::string>&, const std::string&)
{
    return {ERROR_NOT_SUPPORTED, TPtyStartStep::Terminal};
}

bool TPtyProcess::Running() const
{
    return false;
}

int TPtyProcess::OutputHandle() const
{
    return -1;
}

int TPtyProcess::ExitHandle() const
{
    return -1;
}

long TPtyProcess::Read(char*, std::size_t)
{
    return -1;
}

void TPtyProcess::CloseOutput() {}

bool TPtyProcess::Collect(bool, TPtyExit&)
{
    return false;
}

void TPtyProcess::Terminate() {}

void TPtyProcess::Kill() {}

void TPtyProcess::Stop(int) {}
