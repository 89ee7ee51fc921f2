#pragma once

#include "panel_interfaces.h"

#include <QPushButton>

namespace relais {

// The colour value as the screen shows it; the button face for system colours.
QColor screenColor(Color color, const QPalette& palette);

// A push button whose whole face shows its colour.
class GraphicalButton : public QPushButton, public ColorButton {
    Q_OBJECT

public:
    explicit GraphicalButton(QWidget* parent = nullptr);
    Color backColor() const override { return color_; }
    void setBackColor(Color color) override;

signals:
    void backColorChanged();

private:
    Color color_ = kButtonFace;
};

// A relay button also tells assistive technology whether it is on.
class RelayButton : public GraphicalButton {
    Q_OBJECT

public:
    using GraphicalButton::GraphicalButton;
    void setBackColor(Color color) override;
};

} // namespace relais
