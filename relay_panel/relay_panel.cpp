#include "relay_panel.h"

#include "serial_control.h"

namespace relais {

QString relayButtonName(int k) {
    return QStringLiteral("Command%1").arg(k + 2);
}

QString relayCaption(int k) {
    return QStringLiteral("Relais-%1").arg(k);
}

QByteArray commandFrame(const QString& maskText) {
    const qsizetype n = maskText.size();
    if (n < 1 || n > 5) {
        return {};
    }
    return QByteArray(5 - n, '0') + maskText.toLatin1();
}

RelayPanel::RelayPanel(const Buttons& buttons, CaptionTarget& label1, CaptionTarget& label2,
                       SerialControl& comm)
    : buttons_(buttons), label1_(label1), label2_(label2), comm_(comm) {}

void RelayPanel::relayClick(int k) {
    ColorButton& button = *buttons_.at(k - 1);
    button.setBackColor(toggledColor(button.BackColor()));
}

void RelayPanel::Timer1_Timer() {
    for (int k = 1; k <= kRelayCount; ++k) {
        RelayValue[k - 1] = buttons_[k - 1]->BackColor() == kGreen ? relayWeight(k) : 0;
    }
    RelayMask = 0;
    for (const std::int32_t value : RelayValue) {
        RelayMask += value;
    }
    MaskText = QString::number(RelayMask);
    label1_.setCaption(MaskText);
    sendMaskText();
}

void RelayPanel::Command2_Click() {
    sendMaskText();
}

void RelayPanel::sendMaskText() {
    label2_.setCaption(QString::number(MaskText.size()));
    const QByteArray frame = commandFrame(MaskText);
    if (!frame.isEmpty()) {
        comm_.setOutput(frame);
    }
    comm_.setOutBufferCount(0);
}

} // namespace relais
