// Looks into the running tool's window from outside, as the window tests
// need it, and prints what it finds as UTF-8 lines:
//   window-probe window    the title, the outer size and place, the client size,
//                          the control with the focus and whether it is active
//   window-probe controls  each control: class, text, place and size
//   window-probe lists     each list's entries, the chosen one marked "*"
//   window-probe messages  the tool's open message boxes, each one's text;
//                          then closes them
//   window-probe close     asks the tool's window to close
#include "WideText.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void Print(const std::wstring& line)
{
    std::fputs((Platform::Utf8FromWide(line) + "\n").c_str(), stdout);
}

std::wstring WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, static_cast<int>(std::size(text)));
    return text;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, static_cast<int>(std::size(name)));
    return name;
}

BOOL CALLBACK Collect(HWND child, LPARAM found)
{
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(child);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&children));
    return children;
}

int Lists()
{
    const HWND tool = FindWindowW(L"ZorbelFlashWindow", nullptr);
    if (!tool)
        return 2;
    for (HWND child : Children(tool)) {
        if (_wcsicmp(ClassOf(child).c_str(), L"ComboBox") != 0)
            continue;
        const bool ports = GetWindowLongW(child, GWL_STYLE) & CBS_OWNERDRAWFIXED;
        const LRESULT count = SendMessageW(child, CB_GETCOUNT, 0, 0);
        const LRESULT chosen = SendMessageW(child, CB_GETCURSEL, 0, 0);
        std::wstring line = ports ? L"ports:" : L"speeds:";
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t item[256] = {};
            SendMessageW(child, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
            line += std::wstring(L" ") + (i == chosen ? L"*" : L"") + item;
        }
        Print(line);
    }
    return 0;
}

int Placement()
{
    const HWND tool = FindWindowW(L"ZorbelFlashWindow", nullptr);
    if (!tool)
        return 2;
    RECT outer{};
    RECT client{};
    GetWindowRect(tool, &outer);
    GetClientRect(tool, &client);
    Print(L"title: " + WindowText(tool));
    Print(L"outer: " + std::to_wstring(outer.right - outer.left) + L"x" + std::to_wstring(outer.bottom - outer.top) +
          L" at " + std::to_wstring(outer.left) + L"," + std::to_wstring(outer.top));
    Print(L"client: " + std::to_wstring(client.right) + L"x" + std::to_wstring(client.bottom));
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(tool, nullptr), &thread);
    Print(L"focus: " + (thread.hwndFocus ? ClassOf(thread.hwndFocus) + L" " + WindowText(thread.hwndFocus) : L"none") +
          (thread.hwndActive == tool ? L", active" : L", inactive"));
    return 0;
}

// Each control in creation (tab) order: class, text, place in the client area.
int Controls()
{
    const HWND tool = FindWindowW(L"ZorbelFlashWindow", nullptr);
    if (!tool)
        return 2;
    for (HWND child : Children(tool)) {
        if (GetParent(child) != tool)
            continue;
        RECT place{};
        GetWindowRect(child, &place);
        MapWindowPoints(nullptr, tool, reinterpret_cast<POINT*>(&place), 2);
        // A combo box's text is its list's: "lists" tells it.
        const bool list = _wcsicmp(ClassOf(child).c_str(), L"ComboBox") == 0;
        const std::wstring text = list ? L"" : L" \"" + WindowText(child) + L"\"";
        Print(ClassOf(child) + text + L" " + std::to_wstring(place.left) + L"," + std::to_wstring(place.top) + L" " +
              std::to_wstring(place.right - place.left) + L"x" + std::to_wstring(place.bottom - place.top));
    }
    return 0;
}

int Messages()
{
    std::vector<HWND> windows;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    std::vector<HWND> boxes;
    for (HWND window : windows) {
        if (ClassOf(window) == L"#32770" && WindowText(window) == L"zorbel-flash" && IsWindowVisible(window))
            boxes.push_back(window);
    }
    Print(L"boxes: " + std::to_wstring(boxes.size()));
    for (HWND box : boxes) {
        for (HWND child : Children(box)) {
            if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0 && !WindowText(child).empty())
                Print(L"text: " + WindowText(child));
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"controls")
        return Controls();
    if (command == L"lists")
        return Lists();
    if (command == L"window")
        return Placement();
    if (command == L"close") {
        const HWND tool = FindWindowW(L"ZorbelFlashWindow", nullptr);
        return tool && PostMessageW(tool, WM_CLOSE, 0, 0) ? 0 : 2;
    }
    if (command == L"messages")
        return Messages();
    return 1;
}
