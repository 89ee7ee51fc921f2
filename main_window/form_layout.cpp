#include "form_layout.h"

#include "relay_panel.h"
#include "texts.h"

namespace relais {

namespace {

// Tab indices of the relay buttons: the first column runs upwards.
constexpr int kRelayTabIndex[kRelayCount] = {7,  6,  5,  4,  8,  9,  10, 11,
                                             12, 13, 14, 15, 16, 17, 18, 19};

} // namespace

std::vector<ControlSpec> formControls() {
    using K = ControlKind;
    const QString form = QStringLiteral("Form1");
    const QString frame = QStringLiteral("Frame1");
    std::vector<ControlSpec> c = {
        {QStringLiteral("Picture1"), K::PictureBox, form, {}, 240, 240, 1335, 6375, 21, true},
        {frame, K::Frame, form, texts::kFrameTitle, 2040, 240, 5055, 2895, 3, true},
    };
    // Four columns of four relays inside the frame.
    for (int k = 1; k <= kRelayCount; ++k) {
        const int column = (k - 1) / 4;
        const int row = (k - 1) % 4;
        c.push_back({relayButtonName(k), K::GraphicalButton, frame, relayCaption(k),
                     480 + 1080 * column, 360 + 600 * row, 855, 495, kRelayTabIndex[k - 1], true});
    }
    c.insert(c.end(), {
                          {QStringLiteral("Combo1"), K::ComboBox, form, texts::kPortPrompt, 2040,
                           3360, 1575, 315, 22, true},
                          {QStringLiteral("Command19"), K::GraphicalButton, form, texts::kStartStop,
                           3720, 3360, 1095, 375, 23, true},
                          {QStringLiteral("Command1"), K::StandardButton, form, texts::kQuit, 6000,
                           3360, 1095, 375, 0, true},
                          {QStringLiteral("Label1"), K::Label, form, texts::kLabel1, 4080, 4200,
                           1575, 495, 2, false},
                          {QStringLiteral("Label2"), K::Label, form, texts::kLabel2, 4080, 4920,
                           1575, 495, 20, false},
                          {QStringLiteral("Command2"), K::StandardButton, form, texts::kTest, 3960,
                           5640, 1815, 615, 1, false},
                      });
    return c;
}

} // namespace relais
