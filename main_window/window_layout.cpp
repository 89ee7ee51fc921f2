#include "window_layout.h"

#include "relay_panel.h"
#include "texts.h"

namespace relais {

namespace {

// Tab indices of the relay buttons: the first column runs upwards.
constexpr int kRelayTabIndex[kRelayCount] = {7,  6,  5,  4,  8,  9,  10, 11,
                                             12, 13, 14, 15, 16, 17, 18, 19};

} // namespace

std::vector<ControlSpec> windowControls() {
    using R = ControlRole;
    std::vector<ControlSpec> c = {
        {QStringLiteral("Picture1"), R::Logo, 0, {}, 240, 240, 1335, 6375, 21, true},
        {QStringLiteral("Frame1"), R::RelayFrame, 0, texts::kFrameTitle, 2040, 240, 5055, 2895, 3,
         true},
    };
    // Four columns of four relays inside the frame; relay k is "Command<k+2>".
    for (int k = 1; k <= kRelayCount; ++k) {
        const int column = (k - 1) / 4;
        const int row = (k - 1) % 4;
        c.push_back({QStringLiteral("Command%1").arg(k + 2), R::Relay, k, texts::relayCaption(k),
                     480 + 1080 * column, 360 + 600 * row, 855, 495, kRelayTabIndex[k - 1], true});
    }
    c.insert(c.end(), {
                          {QStringLiteral("Combo1"), R::PortList, 0, texts::kPortPrompt, 2040, 3360,
                           1575, 315, 22, true},
                          {QStringLiteral("Command19"), R::StartStop, 0, texts::kStartStop, 3720,
                           3360, 1095, 375, 23, true},
                          {QStringLiteral("Command1"), R::Quit, 0, texts::kQuit, 6000, 3360, 1095,
                           375, 0, true},
                          {QStringLiteral("Label1"), R::MaskLabel, 0, texts::kLabel1, 4080, 4200,
                           1575, 495, 2, false},
                          {QStringLiteral("Label2"), R::LengthLabel, 0, texts::kLabel2, 4080, 4920,
                           1575, 495, 20, false},
                          {QStringLiteral("Command2"), R::ResendButton, 0, texts::kTest, 3960, 5640,
                           1815, 615, 1, false},
                      });
    return c;
}

} // namespace relais
