#include "color_buttons.h"

#include "texts.h"

namespace relais {

QColor screenColor(Color color, const QPalette& palette) {
    if (color & 0x80000000u) {
        return palette.color(QPalette::Button);
    }
    // 0x00BBGGRR
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

GraphicalButton::GraphicalButton(QWidget* parent) : QPushButton(parent) {}

void GraphicalButton::setBackColor(Color color) {
    const bool changed = color != color_;
    color_ = color;
    if (color & 0x80000000u) {
        setStyleSheet(QString()); // the style's own button face
    } else {
        // A style sheet with a border gives a flat face in every style; the
        // palette alone would be drawn as a pale gradient by some.
        setStyleSheet(
            QStringLiteral("QPushButton { background-color: %1; border: 1px solid #404040; }"
                           "QPushButton:pressed { border: 2px inset #404040; }"
                           "QPushButton:focus { border: 2px solid #000000; }")
                .arg(screenColor(color, palette()).name()));
    }
    if (changed) {
        emit backColorChanged();
    }
}

void RelayButton::setBackColor(Color color) {
    GraphicalButton::setBackColor(color);
    setAccessibleDescription(color == kGreen ? texts::kRelayOn : texts::kRelayOff);
}

} // namespace relais
