#pragma once

#include "panel_interfaces.h"

#include <QLabel>
#include <QPushButton>

namespace relais {

// The colour value as the screen shows it; the button face for system colours.
QColor screenColor(Color color, const QPalette& palette);

// Draws a focus mark on a widget that has the keyboard focus, whatever its
// face: no style is trusted to show one on every colour.
void paintFocusMark(QWidget& widget);

// A push button that always shows when it has the keyboard focus.
class FocusButton : public QPushButton {
    Q_OBJECT

public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A push button whose whole face shows its colour. To assistive technology
// it is a toggle, checked exactly while it shows its active colour, with a
// description for either state; only the colour decides, not the click.
class GraphicalButton : public FocusButton, public ColorButton {
    Q_OBJECT

public:
    GraphicalButton(Color activeColor, QString activeText, QString inactiveText,
                    QWidget* parent = nullptr);
    Color backColor() const override { return color_; }
    void setBackColor(Color color) override;
    // What the button is for, said before its state ("Pumpe, eingeschaltet").
    void setDetail(const QString& detail);

signals:
    void backColorChanged();

protected:
    void nextCheckState() override {}

private:
    Color color_ = kButtonFace;
    Color activeColor_;
    QString activeText_;
    QString inactiveText_;
    QString detail_;
    void describe();
};

// The logotype: a picture that can take the focus, so it shows that too.
class LogoBox : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace relais
