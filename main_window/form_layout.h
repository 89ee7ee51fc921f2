#pragma once

#include <QString>

#include <vector>

namespace relais {

// 15 twips to a pixel at 96 dots per inch; Qt scales pixels on denser screens.
constexpr int twipsToPixels(int twips) {
    return twips / 15;
}

enum class ControlKind { PictureBox, Frame, GraphicalButton, StandardButton, ComboBox, Label };

// One drawn control of the window. Positions are in twips, relative to the
// container ("Form1" or "Frame1"); tabIndex orders the keyboard focus.
struct ControlSpec {
    QString name;
    ControlKind kind;
    QString container;
    QString text;
    int left, top, width, height;
    int tabIndex;
    bool shown;
};

// The window's client area, in twips.
inline constexpr int kFormWidth = 7590;
inline constexpr int kFormHeight = 6900;
inline constexpr int kFormLeft = 660;
inline constexpr int kFormTop = 1215;

inline constexpr int kTimerInterval = 100; // ms

// Every drawn control, in the order they are created.
std::vector<ControlSpec> formControls();

} // namespace relais
