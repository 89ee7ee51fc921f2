#pragma once

#include "controls.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace relais {

class SerialControl;

inline constexpr int kRelayCount = 16;

// Relay k (1..16) is the button "Command<k+2>", captioned "Relais-<k>", and
// bit k-1 of the mask.
constexpr std::int32_t relayWeight(int k) {
    return std::int32_t{1} << (k - 1);
}
QString relayButtonName(int k);
QString relayCaption(int k);

// What a click does to a relay button's colour: only the exact off colour
// turns on; anything else (on, or a stray colour) turns off.
constexpr Color toggledColor(Color current) {
    return current == kButtonFace ? kGreen : kButtonFace;
}

// The mask text zero-filled to the five-digit frame; empty when the text
// has no length from 1 to 5 (nothing is to be sent then).
QByteArray commandFrame(const QString& maskText);

// The relay buttons, the two diagnostic labels and the frame sent on each tick.
class RelayPanel {
public:
    using Buttons = std::array<ColorButton*, kRelayCount>;

    RelayPanel(const Buttons& buttons, CaptionTarget& label1, CaptionTarget& label2,
               SerialControl& comm);

    // Click on relay k's button (the handlers Command3_Click .. Command18_Click).
    void relayClick(int k);

    // Reads the panel, computes the mask and sends the frame.
    void Timer1_Timer();

    // "Testen": sends the last tick's mask text again without reading the panel.
    void Command2_Click();

    std::int32_t relayValue(int k) const { return RelayValue.at(k - 1); }
    std::int32_t relayMask() const { return RelayMask; }
    const QString& maskText() const { return MaskText; }

private:
    void sendMaskText();

    Buttons buttons_;
    CaptionTarget& label1_;
    CaptionTarget& label2_;
    SerialControl& comm_;

    // 32-bit so that relay 16 counts +32768 and the mask is never negative.
    std::array<std::int32_t, kRelayCount> RelayValue{};
    std::int32_t RelayMask = 0;
    QString MaskText;
};

} // namespace relais
