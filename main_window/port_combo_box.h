#pragma once

#include "link_control.h"
#include "port_resolver.h"

#include <QComboBox>

namespace relais {

// The port list: an edit field with a prompt over the entries "COM 1" to
// "COM 8". Only a choice from the list picks a port; typing only un-picks.
class PortComboBox : public QComboBox, public PortList {
    Q_OBJECT

public:
    PortComboBox(const PortResolver& resolver, QWidget* parent = nullptr);
    int chosenIndex() const override { return chosenIndex_; }
    QString chosenDevice() const override { return device_; }
    void setEnabled(bool enabled) override { QComboBox::setEnabled(enabled); }
    std::function<void()> choosePort(const PortSpec& port) override;
    void showPopup() override;

    // Picks entry `index` as a choice from the list would.
    void choose(int index);
    // Shows a device that has no entry; nothing is chosen then.
    void showDevice(const QString& device);

    // What the field shows and which entry is chosen, to put back after a
    // start that failed.
    struct Shown {
        int current = -1;
        QString text;
        int chosen = -1;
        bool typed = false;
        QString device;
    };
    Shown shown() const { return {currentIndex(), currentText(), chosenIndex_, typed_, device_}; }
    void restore(const Shown& shown);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Names the device behind each entry in its tooltip.
    void refreshToolTips();

    const PortResolver& resolver_;
    int chosenIndex_ = -1;
    bool typed_ = false; // the field holds typed text, not a list choice
    QString device_;     // a device shown by a script instead of an entry
};

} // namespace relais
