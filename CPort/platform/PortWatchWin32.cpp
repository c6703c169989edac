// The notice watches the key that holds the listing, not the listing's own
// key: Windows makes SERIALCOMM (a volatile key) only once a serial driver
// names a port, so a machine that had none has no key to watch, and the key
// may go with its last port. Its parent (HARDWARE\DEVICEMAP) is always
// there, and a change of its subtree covers the listing being made, filled,
// emptied and removed. The parent's other subkeys change rarely; a notice of
// theirs only makes the component look at an unchanged list.
#include "PortWatch.h"
#include "WideText.h"

#include <windows.h>

#ifndef REG_NOTIFY_THREAD_AGNOSTIC
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000L
#endif

namespace Platform {

namespace {

// A notice that cannot be asked for again is asked for after this long,
// when the component looks again: the watch stays deaf no longer than that.
constexpr LONGLONG RetryMs = 1000;

// The key above the listing, under HKEY_LOCAL_MACHINE ("" for a listing at
// the top).
std::wstring ParentOf(const std::string& listing)
{
    const std::wstring path = WideFromUtf8(listing);
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

} // namespace

struct TPortWatch::TState {
    std::wstring parentPath;
    HKEY key = nullptr;
    HANDLE event = nullptr;
    bool valid = false;
    // Sets the event after RetryMs, once a renewal failed.
    PTP_TIMER retry = nullptr;

    ~TState()
    {
        if (retry) {
            // No callback runs once the timer is closed.
            SetThreadpoolTimer(retry, nullptr, 0, 0);
            WaitForThreadpoolTimerCallbacks(retry, TRUE);
            CloseThreadpoolTimer(retry);
        }
        CloseKey();
        if (event)
            CloseHandle(event);
    }

    void CloseKey()
    {
        if (key)
            RegCloseKey(key);
        key = nullptr;
    }

    bool Open()
    {
        CloseKey();
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentPath.c_str(), 0, KEY_NOTIFY, &key) == ERROR_SUCCESS)
            return true;
        key = nullptr;
        return false;
    }

    // A notice is given once; it is asked for again after each. Without the
    // thread-agnostic flag the request would end with the thread that made
    // it, and the component may take the notices on another one.
    bool Arm()
    {
        return key && RegNotifyChangeKeyValue(key, TRUE,
                                              REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET |
                                                  REG_NOTIFY_THREAD_AGNOSTIC,
                                              event, TRUE) == ERROR_SUCCESS;
    }

    static void CALLBACK RetryNow(PTP_CALLBACK_INSTANCE, void* state, PTP_TIMER)
    {
        SetEvent(static_cast<TState*>(state)->event);
    }

    // A failed request is tried again on a key opened anew (the old handle
    // may have gone bad; closing it gives one last notice); failing that,
    // the event is set a little later, so that the component comes back to
    // try once more.
    void Renew()
    {
        if (Arm() || (Open() && Arm()))
            return;
        if (!retry)
            retry = CreateThreadpoolTimer(RetryNow, this, nullptr);
        if (retry) {
            ULARGE_INTEGER due;
            due.QuadPart = static_cast<ULONGLONG>(-RetryMs * 10000); // relative, in 100 ns
            FILETIME when{due.LowPart, due.HighPart};
            SetThreadpoolTimer(retry, &when, 0, 0);
        }
    }
};

TPortWatch::TPortWatch(const TPortSource& source) : state_(std::make_unique<TState>())
{
    state_->parentPath = ParentOf(source.Listing);
    if (!state_->Open())
        return;
    state_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    state_->valid = state_->event && state_->Arm();
}

TPortWatch::~TPortWatch() = default;

bool TPortWatch::Valid() const
{
    return state_->valid;
}

std::intptr_t TPortWatch::Handle() const
{
    return reinterpret_cast<std::intptr_t>(state_->event);
}

std::vector<std::string> TPortWatch::TakeChanges()
{
    // The event resets itself when the waiter is released.
    state_->Renew();
    return {};
}

} // namespace Platform
