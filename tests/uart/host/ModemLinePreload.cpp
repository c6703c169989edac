// Preloaded into the emulator: answers the modem-line calls its serial
// backend makes on a host pseudo-terminal (which has no modem lines) from the
// state the far end keeps, and counts the breaks it sends there.

#include "ModemLineState.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

struct MappedLine {
    std::string ttyPath;
    ModemLineState* state;
};

ModemLineState* MapState(const std::string& file)
{
    const int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    void* mapped = ::mmap(nullptr, sizeof(ModemLineState), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED)
        return nullptr;
    auto* state = static_cast<ModemLineState*>(mapped);
    return state->magic == ModemLineState::Magic ? state : nullptr;
}

// Read once, at the first call: the emulator opens its ttys after start-up.
std::vector<MappedLine> ReadMapping()
{
    std::vector<MappedLine> lines;
    const char* text = std::getenv(ModemLinesVariable);
    std::string rest = text ? text : "";
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string pair = rest.substr(0, end);
        rest = end == std::string::npos ? "" : rest.substr(end + 1);
        const std::size_t equals = pair.find('=');
        if (equals == std::string::npos)
            continue;
        if (ModemLineState* state = MapState(pair.substr(equals + 1)))
            lines.push_back({pair.substr(0, equals), state});
        else
            std::fprintf(stderr, "modem lines: cannot map %s\n", pair.c_str());
    }
    return lines;
}

ModemLineState* StateOf(int fd)
{
    static const std::vector<MappedLine> lines = ReadMapping();
    if (lines.empty())
        return nullptr;
    char link[64];
    char target[256] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (::readlink(link, target, sizeof target - 1) <= 0)
        return nullptr;
    for (const MappedLine& line : lines)
        if (line.ttyPath == target)
            return line.state;
    return nullptr;
}

constexpr std::uint32_t DrivenByGuest = TIOCM_DTR | TIOCM_RTS;

void Answer(ModemLineState& state, unsigned long request, int* bits)
{
    if (request == TIOCMGET) {
        *bits = static_cast<int>((state.farLines.load() & ~DrivenByGuest) | (state.nearLines.load() & DrivenByGuest));
        return;
    }
    const std::uint32_t value = static_cast<std::uint32_t>(*bits) & DrivenByGuest;
    if (request == TIOCMSET)
        state.nearLines.store(value);
    else if (request == TIOCMBIS)
        state.nearLines.fetch_or(value);
    else
        state.nearLines.fetch_and(~value);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const bool modemCall = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    if (modemCall) {
        if (ModemLineState* state = StateOf(fd)) {
            Answer(*state, request, static_cast<int*>(argument));
            return 0;
        }
    }
    using Real = int (*)(int, unsigned long, ...);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, argument);
}

extern "C" int tcsendbreak(int fd, int duration)
{
    if (ModemLineState* state = StateOf(fd)) {
        state->breaks.fetch_add(1);
        return 0;
    }
    using Real = int (*)(int, int);
    static const Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "tcsendbreak"));
    return real(fd, duration);
}
