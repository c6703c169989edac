#pragma once

// The form as the Designer layout stores it (pixels at 96 dots per inch),
// in the table cmake/UiLayoutHeader.cmake makes from the .ui file.

#include <span>

struct TStoredRect {
    int X;
    int Y;
    int Width;
    int Height;
};

struct TStoredControl {
    const wchar_t* Name;
    // The Qt class the layout names: QPushButton, QComboBox, QLabel, or the
    // port selector TComComboBox.
    const wchar_t* Class;
    TStoredRect Geometry;
    const wchar_t* Text;
    std::span<const wchar_t* const> Items;
    int CurrentIndex;
    // The port selector's stored Text and ItemIndex, applied in that order.
    const wchar_t* StoredText;
    bool HasItemIndex;
    int ItemIndex;
    // Place in the tab order, or -1 for a control that takes no focus.
    int TabOrder;
};
