#pragma once

#include <QString>

#include <vector>

namespace relais {

// 15 twips to a pixel at 96 dots per inch; Qt scales pixels on denser screens.
constexpr int twipsToPixels(int twips) {
    return twips / 15;
}

// What a control is for; its kind of widget follows from it.
enum class ControlRole {
    Logo,         // the picture along the left edge
    RelayFrame,   // the group frame around the relay buttons
    Relay,        // one relay button, inside the frame
    PortList,     // "COM 1" to "COM 8"
    StartStop,    // starts and stops the link
    Quit,         // "Beenden"
    MaskLabel,    // hidden: the last mask
    LengthLabel,  // hidden: the length of its text
    ResendButton, // hidden: sends the last frame again
};

// One drawn control of the window. `name` is its object name, by which tests
// and UI automation find it. Positions are in twips, relative to the window
// (the frame for relay buttons); tabIndex orders the keyboard focus.
struct ControlSpec {
    QString name;
    ControlRole role;
    int relay; // 1..16 for relay buttons, 0 otherwise
    QString text;
    int left, top, width, height;
    int tabIndex;
    bool shown;
};

// The window's client area, in twips.
inline constexpr int kWindowWidth = 7590;
inline constexpr int kWindowHeight = 6900;
inline constexpr int kWindowLeft = 660;
inline constexpr int kWindowTop = 1215;

// Object names of the window and its parts that have no row of their own.
inline const QString kWindowName = QStringLiteral("Form1");
inline const QString kTimerName = QStringLiteral("Timer1");
inline const QString kSerialName = QStringLiteral("Comm1");

// Every drawn control, in the order they are created.
std::vector<ControlSpec> windowControls();

} // namespace relais
