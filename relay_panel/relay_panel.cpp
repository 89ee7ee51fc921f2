#include "relay_panel.h"

namespace relais {

QByteArray commandFrame(const QString& maskText) {
    const qsizetype n = maskText.size();
    if (n < 1 || n > 5) {
        return {};
    }
    return QByteArray(5 - n, '0') + maskText.toLatin1();
}

RelayPanel::RelayPanel(const Buttons& buttons, CaptionTarget& maskLabel, CaptionTarget& lengthLabel,
                       FrameSink& line)
    : buttons_(buttons), maskLabel_(maskLabel), lengthLabel_(lengthLabel), line_(line) {}

void RelayPanel::toggleRelay(int relay) {
    ColorButton& button = *buttons_.at(relay - 1);
    button.setBackColor(toggledColor(button.backColor()));
}

void RelayPanel::setRelay(int relay, bool on) {
    if (isRelayOn(relay) != on) {
        toggleRelay(relay);
    }
}

std::int32_t RelayPanel::shownMask() const {
    std::int32_t mask = 0;
    for (int k = 1; k <= kRelayCount; ++k) {
        mask += isRelayOn(k) ? relayWeight(k) : 0;
    }
    return mask;
}

void RelayPanel::tick() {
    for (int k = 1; k <= kRelayCount; ++k) {
        relayValues_[k - 1] = buttons_[k - 1]->backColor() == kGreen ? relayWeight(k) : 0;
    }
    mask_ = 0;
    for (const std::int32_t value : relayValues_) {
        mask_ += value;
    }
    maskText_ = QString::number(mask_);
    maskLabel_.setCaption(maskText_);
    sendMaskText();
}

void RelayPanel::resendLastFrame() {
    sendMaskText();
}

void RelayPanel::sendMaskText() {
    lengthLabel_.setCaption(QString::number(maskText_.size()));
    const QByteArray frame = commandFrame(maskText_);
    if (!frame.isEmpty()) {
        line_.write(frame);
    }
    line_.discardPending();
}

} // namespace relais
