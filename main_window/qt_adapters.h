#pragma once

// Qt objects behind the logic's small interfaces.

#include "link_control.h"
#include "panel_interfaces.h"

#include <QLabel>
#include <QTimer>

namespace relais {

class LabelCaption : public CaptionTarget {
public:
    explicit LabelCaption(QLabel& label) : label_(label) {}
    void setCaption(const QString& caption) override { label_.setText(caption); }

private:
    QLabel& label_;
};

class QtTickTimer : public TickTimer {
public:
    explicit QtTickTimer(QTimer& timer) : timer_(timer) {}
    void setEnabled(bool enabled) override {
        if (enabled) {
            timer_.start();
        } else {
            timer_.stop();
        }
    }

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
