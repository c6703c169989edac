#include "PtyLine.h"

#include <fcntl.h>
#include <pty.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <new>
#include <stdexcept>
#include <system_error>

namespace {

[[noreturn]] void Fail(const std::string& what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

ModemLineState* CreateState(const std::string& file)
{
    Comm::UniqueFd fd(::open(file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.Valid() || ::ftruncate(fd.Get(), sizeof(ModemLineState)) != 0)
        Fail("creating " + file);
    void* mapped = ::mmap(nullptr, sizeof(ModemLineState), PROT_READ | PROT_WRITE, MAP_SHARED, fd.Get(), 0);
    if (mapped == MAP_FAILED)
        Fail("mapping " + file);
    auto* state = new (mapped) ModemLineState{ModemLineState::Magic, {}, {}, {}};
    // A far end at rest presents a ready device: CTS, DSR and carrier on.
    state->farLines = TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    return state;
}

} // namespace

PtyLine::PtyLine(std::string name, const std::string& stateFile) : name_(std::move(name)), stateFile_(stateFile)
{
    int master = -1;
    int slave = -1;
    char path[256] = {};
    if (::openpty(&master, &slave, path, nullptr, nullptr) != 0)
        Fail("openpty");
    master_.Reset(master);
    slave_.Reset(slave);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    slavePath_ = path;
    // The emulator only adds OPOST to what it finds: raw from the start, so
    // a newline the guest sends arrives as it was sent.
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    state_ = CreateState(stateFile);
}

PtyLine::~PtyLine()
{
    if (state_)
        ::munmap(state_, sizeof(ModemLineState));
    ::unlink(stateFile_.c_str());
}

void PtyLine::Hold(bool held)
{
    if (::tcflow(slave_.Get(), held ? TCOOFF : TCOON) != 0)
        Fail("tcflow on " + slavePath_);
}
