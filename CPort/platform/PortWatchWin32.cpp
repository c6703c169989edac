#include "PortWatch.h"
#include "WideText.h"

#include <windows.h>

#ifndef REG_NOTIFY_THREAD_AGNOSTIC
#define REG_NOTIFY_THREAD_AGNOSTIC 0x10000000L
#endif

namespace Platform {

struct TPortWatch::TState {
    HKEY key = nullptr;
    HANDLE event = nullptr;
    bool armed = false;

    ~TState()
    {
        if (key)
            RegCloseKey(key);
        if (event)
            CloseHandle(event);
    }

    // A notice is given once; it is asked for again after each. Without the
    // thread-agnostic flag the request would end with the thread that made
    // it, and the component may take the notices on another one.
    void Arm()
    {
        armed = RegNotifyChangeKeyValue(key, FALSE,
                                        REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET |
                                            REG_NOTIFY_THREAD_AGNOSTIC,
                                        event, TRUE) == ERROR_SUCCESS;
    }
};

TPortWatch::TPortWatch(const TPortSource& source) : state_(std::make_unique<TState>())
{
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, WideFromUtf8(source.Listing).c_str(), 0, KEY_NOTIFY | KEY_QUERY_VALUE,
                      &state_->key) != ERROR_SUCCESS) {
        state_->key = nullptr;
        return;
    }
    state_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (state_->event)
        state_->Arm();
}

TPortWatch::~TPortWatch() = default;

bool TPortWatch::Valid() const
{
    return state_->armed;
}

std::intptr_t TPortWatch::Handle() const
{
    return reinterpret_cast<std::intptr_t>(state_->event);
}

std::vector<std::string> TPortWatch::TakeChanges()
{
    // The event resets itself when the waiter is released.
    state_->Arm();
    return {};
}

} // namespace Platform
