// The tool on Windows: one window, and a message loop that also waits for
// the system's notice that the serial ports changed.

#include "FlashWindow.h"

#include <commctrl.h>
#include <windows.h>

namespace {

int RunMessageLoop(TFlashWindow& window)
{
    for (;;) {
        HANDLE change = window.PortChangeEvent();
        const DWORD count = change ? 1 : 0;
        const DWORD woke = MsgWaitForMultipleObjectsEx(count, &change, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (count == 1 && woke == WAIT_OBJECT_0)
            window.PortsChanged();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return static_cast<int>(message.wParam);
            // Tab, the arrows and space move and press as in a dialog.
            if (!IsDialogMessageW(window.Window(), &message)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    TFlashWindow window;
    if (!window.Create(instance, show))
        return 1;
    return RunMessageLoop(window);
}
