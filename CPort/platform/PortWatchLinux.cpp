#include "PortWatch.h"
#include "UniqueFd.h"

#include <cerrno>

#include <sys/inotify.h>
#include <unistd.h>

namespace Platform {

namespace {

// Entries that appear or go, renames included (a tree moved into place
// arrives whole).
constexpr std::uint32_t WatchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

} // namespace

struct TPortWatch::TState {
    Comm::UniqueFd fd;
    std::string deviceDir;
    bool watching = false;
};

TPortWatch::TPortWatch(const TPortSource& source) : state_(std::make_unique<TState>())
{
    state_->fd.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    state_->deviceDir = source.DeviceDir;
    if (!state_->fd.Valid())
        return;
    // The kernel's tty class directory tells nothing by inotify on a real
    // machine, but the device nodes do; a test's own tree is the other way
    // round. Both are watched, either may be missing.
    for (const std::string& dir : {source.Listing, source.DeviceDir}) {
        if (!dir.empty() && ::inotify_add_watch(state_->fd.Get(), dir.c_str(), WatchedEvents) >= 0)
            state_->watching = true;
    }
}

TPortWatch::~TPortWatch() = default;

bool TPortWatch::Valid() const
{
    return state_->watching;
}

std::intptr_t TPortWatch::Handle() const
{
    return state_->fd.Get();
}

std::vector<std::string> TPortWatch::TakeChanges()
{
    std::vector<std::string> removed;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(state_->fd.Get(), buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->len > 0 && (event->mask & (IN_DELETE | IN_MOVED_FROM)))
                removed.push_back(state_->deviceDir + '/' + event->name);
        }
    }
    return removed;
}

} // namespace Platform
