#pragma once

// Widgets that carry the logic's control properties.

#include "controls.h"
#include "link_control.h"
#include "port_resolver.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace relais {

// The colour value as the screen shows it; the button face for system colours.
QColor screenColor(Color color, const QPalette& palette);

// A push button whose whole face shows its BackColor.
class GraphicalButton : public QPushButton, public ColorButton {
    Q_OBJECT

public:
    explicit GraphicalButton(QWidget* parent = nullptr);
    Color BackColor() const override { return color_; }
    void setBackColor(Color color) override;

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

class LabelCaption : public CaptionTarget {
public:
    explicit LabelCaption(QLabel& label) : label_(label) {}
    void setCaption(const QString& caption) override { label_.setText(caption); }

private:
    QLabel& label_;
};

// The port list: an edit field with a prompt over the entries "COM 1" to
// "COM 8". Only a choice from the list picks a port; typing only un-picks.
class PortComboBox : public QComboBox, public PortList {
    Q_OBJECT

public:
    PortComboBox(const PortResolver& resolver, QWidget* parent = nullptr);
    int ListIndex() const override { return listIndex_; }
    void setEnabled(bool enabled) override { QComboBox::setEnabled(enabled); }
    void showPopup() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Names the device behind each entry in its tooltip.
    void refreshToolTips();

    const PortResolver& resolver_;
    int listIndex_ = -1;
    bool typed_ = false; // the field holds typed text, not a list choice
};

class QtTickTimer : public TickTimer {
public:
    explicit QtTickTimer(QTimer& timer) : timer_(timer) {}
    void setEnabled(bool enabled) override;

private:
    QTimer& timer_;
};

// A modal box with the text, the title and an OK button, no icon.
class BoxMessages : public MessagePresenter {
public:
    explicit BoxMessages(QWidget& parent) : parent_(parent) {}
    void showMessage(const QString& text, const QString& title) override;

private:
    QWidget& parent_;
};

} // namespace relais
