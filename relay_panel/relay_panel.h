#pragma once

#include "panel_interfaces.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace relais {

inline constexpr int kRelayCount = 16;
// The whole pattern goes out this often while the link runs.
inline constexpr int kTickInterval = 100; // ms

// Relay k (1..16) is bit k-1 of the mask.
constexpr std::int32_t relayWeight(int relay) {
    return std::int32_t{1} << (relay - 1);
}

// What a click does to a relay button's colour: only the exact off colour
// turns on; anything else (on, or a stray colour) turns off.
constexpr Color toggledColor(Color current) {
    return current == kButtonFace ? kGreen : kButtonFace;
}

// The mask text zero-filled to the five-digit frame; empty when the text
// has no length from 1 to 5 (nothing is to be sent then).
QByteArray commandFrame(const QString& maskText);

// The sixteen relay buttons and the frame sent on each tick. A relay's
// state is its button's colour and nothing else.
class RelayPanel {
public:
    using Buttons = std::array<ColorButton*, kRelayCount>;

    // `maskLabel` and `lengthLabel` receive the mask text and its length on
    // every tick (hidden diagnostics).
    RelayPanel(const Buttons& buttons, CaptionTarget& maskLabel, CaptionTarget& lengthLabel,
               FrameSink& line);

    // A click on relay k's button.
    void toggleRelay(int relay);

    // Switches relay k on or off as a click would, if it is not so already.
    void setRelay(int relay, bool on);
    bool isRelayOn(int relay) const { return buttons_.at(relay - 1)->backColor() == kGreen; }
    // The mask the buttons show now; the next tick sends it.
    std::int32_t shownMask() const;

    // Reads the panel, computes the mask and sends the frame.
    void tick();

    // Sends the last tick's mask text again without reading the panel.
    void resendLastFrame();

    std::int32_t relayValue(int relay) const { return relayValues_.at(relay - 1); }
    std::int32_t mask() const { return mask_; }

private:
    void sendMaskText();

    Buttons buttons_;
    CaptionTarget& maskLabel_;
    CaptionTarget& lengthLabel_;
    FrameSink& line_;

    // 32-bit so that relay 16 counts +32768 and the mask is never negative.
    std::array<std::int32_t, kRelayCount> relayValues_{};
    std::int32_t mask_ = 0;
    QString maskText_;
};

} // namespace relais
