#pragma once

// The tool's window on Windows, made from the stored layout's table: the
// heading, the port list, the speed list and the FLASH button, drawn at the
// monitor's scale and following the ports as they come and go.

#include "PortChoice.h"
#include "StoredLayout.h"

#include "PortWatch.h"

#include <windows.h>

#include <memory>
#include <vector>

class TFlashWindow {
public:
    TFlashWindow() = default;
    ~TFlashWindow();
    TFlashWindow(const TFlashWindow&) = delete;
    TFlashWindow& operator=(const TFlashWindow&) = delete;

    // Makes and shows the window; false when it could not be made.
    bool Create(HINSTANCE instance, int show);
    HWND Window() const { return window_; }
    // Signalled after the ports may have changed, or null when they cannot
    // be watched; PortsChanged() takes the notice.
    HANDLE PortChangeEvent() const;
    void PortsChanged();

private:
    struct TDeleteFont {
        void operator()(HFONT font) const { DeleteObject(font); }
    };
    using TFont = std::unique_ptr<std::remove_pointer_t<HFONT>, TDeleteFont>;
    struct TControl {
        HWND Window;
        const TStoredControl* Stored;
    };

    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void ApplyScale(UINT dpi);
    TFont MakeFont(int pixels, bool bold) const;
    int FieldHeight(int storedHeight) const;
    int Scaled(int pixels) const { return MulDiv(pixels, static_cast<int>(dpi_), 96); }
    void WatchPorts();
    void StartPortList();
    void RelistPorts();
    void ShowPortList();
    void SetDroppedWidth();
    void MeasurePortItem(MEASUREITEMSTRUCT& item) const;
    void DrawPortItem(const DRAWITEMSTRUCT& item) const;
    void Command(WORD id, WORD code);
    void Flash();

    HWND window_ = nullptr;
    UINT dpi_ = 96;
    std::vector<TControl> controls_;
    HWND portList_ = nullptr;
    HWND speedList_ = nullptr;
    HWND button_ = nullptr;
    // The control that had the focus when the window was last active.
    HWND focus_ = nullptr;
    HBRUSH background_ = nullptr;
    TFont textFont_;
    TFont headingFont_;
    TFont buttonFont_;
    TPortChoice ports_;
    std::unique_ptr<Platform::TPortWatch> watch_;
};
