#include "FlashWindow.h"

#include "FlashErrorText.h"
#include "FlashPress.h"
#include "PortList.h"
#include "WideText.h"
#include "TForm1Layout.h"

#include <dbt.h>

#include <algorithm>
#include <climits>
#include <string_view>

namespace {

constexpr wchar_t ClassName[] = L"ZorbelFlashWindow";
constexpr int FirstControlId = 100;
constexpr UINT_PTR AwaitTimer = 1;
// How long a chosen port that went away (a board that resets) is waited for.
constexpr UINT PortReturnWaitMs = 15000;

// The stored outer size is the client size with the frame of the layout's
// time around it: borders of 4 pixels and a caption of 19 at 96 dpi.
constexpr int StoredFrameWidth = 8;
constexpr int StoredFrameHeight = 27;

// The Linux window's look: the faces of the layout's metrics, character
// heights in pixels at 96 dpi, list entries of a fixed height.
constexpr wchar_t LayoutFace[] = L"Microsoft Sans Serif";
constexpr int TextPixels = 11;
constexpr int HeadingPixels = 19;
constexpr int ButtonPixels = 23;
constexpr int ItemHeight = 13;
constexpr int ItemIndent = 2;
constexpr int VisibleItems = 10;
// The space between a port's name and its details, in widths of a space.
constexpr int GapSpaces = 3;
constexpr COLORREF Gray = RGB(128, 128, 128);

bool IsClass(const TStoredControl& control, std::wstring_view name)
{
    return name == control.Class;
}

// The window's dots per inch: its monitor's on Windows 10 and later, the
// system's before.
UINT WindowDpi(HWND window)
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow)
        return getDpiForWindow(window);
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return static_cast<UINT>(dpi);
}

std::wstring ListText(HWND list, int index)
{
    const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (index < 0 || length == CB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

int TextWidth(HDC dc, std::wstring_view text)
{
    SIZE size{};
    GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
    return size.cx;
}

// Halfway between the text and its background: there, but behind the name.
COLORREF LighterText(COLORREF text, COLORREF background)
{
    return RGB((GetRValue(text) + GetRValue(background)) / 2, (GetGValue(text) + GetGValue(background)) / 2,
               (GetBValue(text) + GetBValue(background)) / 2);
}

} // namespace

TFlashWindow::~TFlashWindow()
{
    if (window_)
        DestroyWindow(window_);
    if (background_)
        DeleteObject(background_);
}

bool TFlashWindow::Create(HINSTANCE instance, int show)
{
    background_ = CreateSolidBrush(Gray);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // the arrow
    windowClass.hbrBackground = background_;
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassExW(&windowClass))
        return false;
    const TStoredRect& form = StoredFormGeometry;
    if (!CreateWindowExW(WS_EX_CONTROLPARENT, ClassName, StoredFormTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                         form.X, form.Y, form.Width + StoredFrameWidth, form.Height + StoredFrameHeight, nullptr,
                         nullptr, instance, this))
        return false;
    ShowWindow(window_, show);
    return true;
}

LRESULT CALLBACK TFlashWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<TFlashWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TFlashWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = self->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
    }
    return result;
}

LRESULT TFlashWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: {
        dpi_ = WindowDpi(window_);
        CreateControls();
        ApplyScale(dpi_);
        if (dpi_ != 96) {
            // At the monitor's scale around the stored position.
            const TStoredRect& form = StoredFormGeometry;
            SetWindowPos(window_, nullptr, Scaled(form.X), Scaled(form.Y), Scaled(form.Width + StoredFrameWidth),
                         Scaled(form.Height + StoredFrameHeight), SWP_NOZORDER | SWP_NOACTIVATE);
        }
        WatchPorts();
        StartPortList();
        // The first control of the tab order has the focus, as on Linux.
        SetFocus(controls_.front().Window);
        return 0;
    }
    case WM_DPICHANGED: {
        ApplyScale(HIWORD(wParam));
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        // The labels: white on the window's gray.
        const HDC dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(255, 255, 255));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(background_);
    }
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(background_);
    case WM_MEASUREITEM:
        MeasurePortItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        DrawPortItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == AwaitTimer) {
            KillTimer(window_, AwaitTimer);
            ports_.EndWait();
        }
        return 0;
    case WM_DEVICECHANGE:
        // Ports come and go; a list that had no key to watch yet may have one now.
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE) {
            if (!watch_ || !watch_->Valid())
                WatchPorts();
            RelistPorts();
        }
        return TRUE;
    case WM_ACTIVATE:
        // The focus comes back where it was when the window is active again.
        if (LOWORD(wParam) == WA_INACTIVE) {
            focus_ = GetFocus();
        } else if (focus_ && IsChild(window_, focus_)) {
            SetFocus(focus_);
            return 0;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

// The controls in the tab order first, then the others in stored order:
// creation order is the order Tab follows.
void TFlashWindow::CreateControls()
{
    std::vector<const TStoredControl*> order;
    for (const TStoredControl& control : StoredControls)
        order.push_back(&control);
    std::ranges::stable_sort(order, [](const TStoredControl* a, const TStoredControl* b) {
        const auto rank = [](const TStoredControl* c) { return c->TabOrder < 0 ? INT_MAX : c->TabOrder; };
        return rank(a) < rank(b);
    });
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    for (const TStoredControl* control : order) {
        const wchar_t* windowClass = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        if (IsClass(*control, L"QPushButton")) {
            windowClass = L"BUTTON";
            style |= WS_TABSTOP | BS_PUSHBUTTON;
        } else if (IsClass(*control, L"QComboBox")) {
            windowClass = L"COMBOBOX";
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        } else if (IsClass(*control, L"TComComboBox")) {
            windowClass = L"COMBOBOX";
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
        } else {
            style |= SS_LEFT | SS_NOPREFIX;
        }
        const auto id = static_cast<INT_PTR>(FirstControlId + (control - StoredControls));
        const HWND made = CreateWindowExW(0, windowClass, control->Text, style, 0, 0, 0, 0, window_,
                                          reinterpret_cast<HMENU>(id), instance, nullptr);
        controls_.push_back({made, control});
        if (IsClass(*control, L"QComboBox")) {
            speedList_ = made;
            for (const wchar_t* item : control->Items)
                SendMessageW(made, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
            SendMessageW(made, CB_SETCURSEL, static_cast<WPARAM>(control->CurrentIndex), 0);
        } else if (IsClass(*control, L"TComComboBox")) {
            portList_ = made;
        } else if (IsClass(*control, L"QPushButton")) {
            button_ = made;
        }
    }
}

TFlashWindow::TFont TFlashWindow::MakeFont(int pixels, bool bold) const
{
    return TFont(CreateFontW(-Scaled(pixels), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                             DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH | FF_SWISS, LayoutFace));
}

// Places the controls and makes the fonts for the given dots per inch.
void TFlashWindow::ApplyScale(UINT dpi)
{
    dpi_ = dpi;
    // The old fonts are deleted only once no control uses them any more.
    TFont textFont = MakeFont(TextPixels, false);
    TFont headingFont = MakeFont(HeadingPixels, true);
    TFont buttonFont = MakeFont(ButtonPixels, false);
    for (const TControl& control : controls_) {
        const TStoredRect& place = control.Stored->Geometry;
        HFONT font = textFont.get();
        int height = Scaled(place.Height);
        if (IsClass(*control.Stored, L"QLabel")) {
            font = headingFont.get();
        } else if (IsClass(*control.Stored, L"QPushButton")) {
            font = buttonFont.get();
        } else {
            // A combo box's height is its selection field with the dropped list.
            SendMessageW(control.Window, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), FieldHeight(place.Height));
            SendMessageW(control.Window, CB_SETITEMHEIGHT, 0, Scaled(ItemHeight));
            height += Scaled(ItemHeight) * VisibleItems + 2;
        }
        SendMessageW(control.Window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SetWindowPos(control.Window, nullptr, Scaled(place.X), Scaled(place.Y), Scaled(place.Width), height,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    textFont_ = std::move(textFont);
    headingFont_ = std::move(headingFont);
    buttonFont_ = std::move(buttonFont);
    SetDroppedWidth();
    InvalidateRect(window_, nullptr, TRUE);
}

// The selection field inside the stored height: the box's edges take three
// pixels above and below.
int TFlashWindow::FieldHeight(int storedHeight) const
{
    return std::max(Scaled(storedHeight) - 6, Scaled(ItemHeight));
}

void TFlashWindow::MeasurePortItem(MEASUREITEMSTRUCT& item) const
{
    // Asked while the port list is made, before its place is known.
    if (item.itemID == static_cast<UINT>(-1)) {
        for (const TStoredControl& control : StoredControls) {
            if (IsClass(control, L"TComComboBox"))
                item.itemHeight = static_cast<UINT>(FieldHeight(control.Geometry.Height));
        }
    } else {
        item.itemHeight = static_cast<UINT>(Scaled(ItemHeight));
    }
}

// The name, and in the dropped list the details after it in a lighter
// text; the closed box shows the name alone, the text FLASH passes.
void TFlashWindow::DrawPortItem(const DRAWITEMSTRUCT& item) const
{
    if (item.hwndItem != portList_)
        return;
    const bool selected = item.itemState & ODS_SELECTED;
    const COLORREF text = GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
    const COLORREF background = GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW);
    const HDC dc = item.hDC;
    SetBkColor(dc, background);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &item.rcItem, nullptr, 0, nullptr);
    const auto& entries = ports_.Entries();
    if (item.itemID < entries.size()) {
        const TPortEntry& entry = entries[item.itemID];
        const HGDIOBJ oldFont = SelectObject(dc, textFont_.get());
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, text);
        RECT place = item.rcItem;
        place.left += Scaled(ItemIndent);
        constexpr UINT format = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
        DrawTextW(dc, entry.Name.c_str(), static_cast<int>(entry.Name.size()), &place, format);
        if (!(item.itemState & ODS_COMBOBOXEDIT) && !entry.Details.empty()) {
            place.left += TextWidth(dc, entry.Name) + GapSpaces * TextWidth(dc, L" ");
            SetTextColor(dc, LighterText(text, background));
            DrawTextW(dc, entry.Details.c_str(), static_cast<int>(entry.Details.size()), &place,
                      format | DT_END_ELLIPSIS);
        }
        SelectObject(dc, oldFont);
    }
    if ((item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT))
        DrawFocusRect(dc, &item.rcItem);
}

// The dropped list is wide enough for the widest name with its details.
void TFlashWindow::SetDroppedWidth()
{
    if (!portList_)
        return;
    const HDC dc = GetDC(portList_);
    const HGDIOBJ oldFont = SelectObject(dc, textFont_.get());
    int widest = 0;
    for (const TPortEntry& entry : ports_.Entries()) {
        int width = TextWidth(dc, entry.Name);
        if (!entry.Details.empty())
            width += GapSpaces * TextWidth(dc, L" ") + TextWidth(dc, entry.Details);
        widest = std::max(widest, width);
    }
    SelectObject(dc, oldFont);
    ReleaseDC(portList_, dc);
    const int frame = 2 * (Scaled(ItemIndent) + GetSystemMetrics(SM_CXBORDER)) + GetSystemMetrics(SM_CXVSCROLL);
    SendMessageW(portList_, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + frame), 0);
}

void TFlashWindow::WatchPorts()
{
    watch_ = std::make_unique<Platform::TPortWatch>(Platform::MachinePortSource());
}

HANDLE TFlashWindow::PortChangeEvent() const
{
    return watch_ && watch_->Valid() ? reinterpret_cast<HANDLE>(watch_->Handle()) : nullptr;
}

void TFlashWindow::PortsChanged()
{
    if (watch_)
        watch_->TakeChanges();
    RelistPorts();
}

void TFlashWindow::StartPortList()
{
    for (const TStoredControl& control : StoredControls) {
        if (!IsClass(control, L"TComComboBox"))
            continue;
        const std::optional<int> storedIndex =
            control.HasItemIndex ? std::optional<int>(control.ItemIndex) : std::nullopt;
        ports_.Start(ReadPortEntries().value_or(std::vector<TPortEntry>()), control.StoredText, storedIndex);
    }
    ShowPortList();
}

void TFlashWindow::RelistPorts()
{
    if (SendMessageW(portList_, CB_GETDROPPEDSTATE, 0, 0)) {
        ports_.Relist({}, true);
        return;
    }
    const bool wasAwaiting = ports_.Awaiting();
    // A source that cannot be read leaves the list empty.
    ports_.Relist(ReadPortEntries().value_or(std::vector<TPortEntry>()), false);
    ShowPortList();
    if (!ports_.Awaiting())
        KillTimer(window_, AwaitTimer);
    else if (!wasAwaiting)
        SetTimer(window_, AwaitTimer, PortReturnWaitMs, nullptr);
}

void TFlashWindow::ShowPortList()
{
    SendMessageW(portList_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(portList_, CB_RESETCONTENT, 0, 0);
    for (const TPortEntry& entry : ports_.Entries())
        SendMessageW(portList_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.Name.c_str()));
    SendMessageW(portList_, CB_SETCURSEL, static_cast<WPARAM>(ports_.Chosen()), 0);
    SetDroppedWidth();
    SendMessageW(portList_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(portList_, nullptr, TRUE);
}

void TFlashWindow::Command(WORD id, WORD code)
{
    const HWND control = GetDlgItem(window_, id);
    if (control == button_ && code == BN_CLICKED) {
        Flash();
    } else if (control == portList_ && (code == CBN_SELCHANGE || code == CBN_CLOSEUP)) {
        // The user's pick, whichever of the two notices comes first.
        const int selected = static_cast<int>(SendMessageW(portList_, CB_GETCURSEL, 0, 0));
        if (selected != ports_.Chosen()) {
            ports_.Pick(selected);
            KillTimer(window_, AwaitTimer);
        }
        if (code == CBN_CLOSEUP && ports_.TakeRelistDue())
            RelistPorts();
    }
}

void TFlashWindow::Flash()
{
    const std::wstring speed =
        ListText(speedList_, static_cast<int>(SendMessageW(speedList_, CB_GETCURSEL, 0, 0)));
    const Platform::TSystemError error = StartFlasherFor(ports_.ChosenName(), speed);
    if (error != 0)
        MessageBoxW(window_, Platform::WideFromUtf8(Platform::FlashErrorText(error)).c_str(), MessageCaption, MB_OK);
}
