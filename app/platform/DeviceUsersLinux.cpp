#include "DeviceUsers.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Platform {

namespace {

// The pseudo-terminal multiplexer (/dev/ptmx and /dev/pts/ptmx alike): each
// descriptor open on it is the master of one pseudo-terminal.
const dev_t PtyMultiplexer = makedev(5, 2);
// The slaves /dev/pts/N take the majors from 136 on, 256 lines to a major.
constexpr unsigned PtySlaveFirstMajor = 136;
constexpr unsigned PtySlaveMajors = 8;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// N of /dev/pts/N for a pseudo-terminal's slave, -1 for any other device.
long PtyIndex(dev_t device)
{
    const unsigned number = major(device);
    if (number < PtySlaveFirstMajor || number >= PtySlaveFirstMajor + PtySlaveMajors)
        return -1;
    return static_cast<long>((number - PtySlaveFirstMajor) * 256 + minor(device));
}

// The line a master descriptor serves, from the "tty-index:" its fdinfo
// shows; -1 when it does not say. Another process's master cannot be asked
// for its peer (TIOCGPTPEER acts on one's own descriptor only).
long MasterIndex(const std::string& fdinfo)
{
    constexpr std::string_view Key = "tty-index:";
    std::ifstream in(fdinfo);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(Key))
            return std::strtol(line.c_str() + Key.size(), nullptr, 10);
    }
    return -1;
}

std::string ProgramName(const std::string& process)
{
    std::ifstream in(process + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool IsProcessId(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The device a descriptor is open on (0 for anything else), or nothing when
// the system does not let us look (a process of another user, or one that
// is not ours to inspect even for root inside a container). Only targets
// under /dev are asked for their state: asking a file on a network mount
// that stopped answering would hang the probe.
std::optional<dev_t> DescriptorDevice(const std::string& link)
{
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length < 0)
        return errno == EACCES || errno == EPERM ? std::nullopt : std::optional<dev_t>(0);
    if (std::string_view(target, static_cast<std::size_t>(length)).substr(0, 5) != "/dev/")
        return 0;
    struct stat state {};
    if (::stat(link.c_str(), &state) != 0 || !S_ISCHR(state.st_mode))
        return 0;
    return state.st_rdev;
}

enum class TUse { None, User, Hidden };

// Whether the process at the given directory has the device open, not as
// the line's far end. A process that ended meanwhile uses nothing.
TUse UseOf(const std::string& process, dev_t device, long ptyIndex)
{
    const UniqueDir fds(::opendir((process + "/fd").c_str()));
    if (!fds)
        return errno == ENOENT || errno == ESRCH ? TUse::None : TUse::Hidden;
    bool holds = false;
    bool farEnd = false;
    bool hidden = false;
    while (const dirent* entry = ::readdir(fds.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const std::optional<dev_t> opened = DescriptorDevice(process + "/fd/" + entry->d_name);
        if (!opened)
            hidden = true;
        else if (*opened == device)
            holds = true;
        else if (ptyIndex >= 0 && *opened == PtyMultiplexer &&
                 MasterIndex(process + "/fdinfo/" + entry->d_name) == ptyIndex)
            farEnd = true;
    }
    if (holds && !farEnd)
        return TUse::User;
    return hidden ? TUse::Hidden : TUse::None;
}

} // namespace

TDeviceUsers FindDeviceUsers(const std::string& path, const std::string& processDir)
{
    TDeviceUsers found;
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode))
        return found;
    const std::string processes = processDir.empty() ? "/proc" : processDir;
    const UniqueDir table(::opendir(processes.c_str()));
    if (!table) {
        found.AllSeen = false;
        return found;
    }
    const long ptyIndex = PtyIndex(node.st_rdev);
    const std::string self = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(table.get())) {
        const std::string_view name = entry->d_name;
        if (!IsProcessId(name) || name == self)
            continue;
        const std::string process = processes + "/" + entry->d_name;
        switch (UseOf(process, node.st_rdev, ptyIndex)) {
        case TUse::None: break;
        case TUse::Hidden: found.AllSeen = false; break;
        case TUse::User: found.Users.push_back({std::atoi(entry->d_name), ProgramName(process)}); break;
        }
    }
    std::sort(found.Users.begin(), found.Users.end(),
              [](const TDeviceUser& a, const TDeviceUser& b) { return a.Pid < b.Pid; });
    return found;
}

} // namespace Platform
