#include "color_buttons.h"

#include <QPainter>

namespace relais {

QColor screenColor(Color color, const QPalette& palette) {
    if (color & 0x80000000u) {
        return palette.color(QPalette::Button);
    }
    // 0x00BBGGRR
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

void paintFocusMark(QWidget& widget) {
    if (!widget.hasFocus()) {
        return;
    }
    QPainter painter(&widget);
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawRect(widget.rect().adjusted(3, 3, -4, -4));
}

void FocusButton::paintEvent(QPaintEvent* event) {
    QPushButton::paintEvent(event);
    paintFocusMark(*this);
}

void LogoBox::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    paintFocusMark(*this);
}

GraphicalButton::GraphicalButton(Color activeColor, QString activeText, QString inactiveText,
                                 QWidget* parent)
    : FocusButton(parent), activeColor_(activeColor), activeText_(std::move(activeText)),
      inactiveText_(std::move(inactiveText)) {
    setCheckable(true);
    setAccessibleDescription(inactiveText_);
    // Assistive technology toggles the checked state itself: that is a click.
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on != (color_ == activeColor_)) {
            setChecked(!on);
            click();
        }
    });
}

void GraphicalButton::setDetail(const QString& detail) {
    detail_ = detail;
    describe();
}

void GraphicalButton::describe() {
    const QString state = color_ == activeColor_ ? activeText_ : inactiveText_;
    setAccessibleDescription(detail_.isEmpty() ? state : detail_ + QStringLiteral(", ") + state);
}

void GraphicalButton::setBackColor(Color color) {
    const bool changed = color != color_;
    color_ = color;
    if (color & 0x80000000u) {
        setStyleSheet(QString()); // the style's own button face
    } else {
        // A style sheet with a border gives a flat face in every style (also
        // while checked); the palette alone would be drawn as a pale
        // gradient by some.
        setStyleSheet(
            QStringLiteral("QPushButton { background-color: %1; border: 1px solid #404040; }"
                           "QPushButton:pressed { border: 2px inset #404040; }"
                           "QPushButton:focus { border: 2px solid #000000; }")
                .arg(screenColor(color, palette()).name()));
    }
    // Sets the description first, so that the state change is heard with it.
    describe();
    setChecked(color == activeColor_);
    if (changed) {
        emit backColorChanged();
    }
}

} // namespace relais
