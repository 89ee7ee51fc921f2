#include "port_combo_box.h"

#include "messages.h"
#include "texts.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>

namespace relais {

PortComboBox::PortComboBox(const PortResolver& resolver, QWidget* parent)
    : QComboBox(parent), resolver_(resolver) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    for (int port = 1; port <= 8; ++port) {
        addItem(texts::portItem(port));
    }
    setCurrentIndex(-1);
    setEditText(texts::kPortPrompt);
    // Eight entries never need the list's scroll bars; their holders are
    // disabled for good. Otherwise disabling the port list while the link
    // runs reaches them too, and assistive technology that follows the change
    // asks the list (a table to it) about children it does not count, which
    // Qt answers with a warning each time.
    view()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view()->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view()->horizontalScrollBar()->parentWidget()->setEnabled(false);
    view()->verticalScrollBar()->parentWidget()->setEnabled(false);
    // The field is narrow for the prompt in common desktop fonts: give the
    // text the edit's own margin, and show it from its start.
    lineEdit()->setTextMargins(-2, 0, 0, 0);
    lineEdit()->setCursorPosition(0);
    // Its own name, not its text; the text is its value.
    setAccessibleName(texts::kPortListName);
    lineEdit()->setAccessibleName(texts::kPortListName);
    // The combo also "activates" an entry whose text was typed, when Return
    // is pressed or the field loses the focus; only list choices count here.
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (!typed_) {
            chosenIndex_ = index;
        }
    });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
        typed_ = true;
        chosenIndex_ = -1;
        device_.clear();
    });
    connect(this, &QComboBox::activated, this, [this] { device_.clear(); });
}

void PortComboBox::focusInEvent(QFocusEvent* event) {
    QComboBox::focusInEvent(event);
    // No selected text: a screen reader would read the prompt as "selected".
    lineEdit()->deselect();
}

void PortComboBox::focusOutEvent(QFocusEvent* event) {
    QComboBox::focusOutEvent(event);
    lineEdit()->setCursorPosition(0); // the narrow field shows its text from the start again
}

void PortComboBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        typed_ = false; // stepping through the list is a choice
        break;
    default:
        break;
    }
    QComboBox::keyPressEvent(event);
}

void PortComboBox::wheelEvent(QWheelEvent* event) {
    typed_ = false;
    QComboBox::wheelEvent(event);
}

void PortComboBox::refreshToolTips() {
    for (int i = 0; i < count(); ++i) {
        const auto device = resolver_.devicePath(i + 1);
        setItemData(i, device ? *device : messages::kNoDevice, Qt::ToolTipRole);
    }
}

std::function<void()> PortComboBox::choosePort(const PortSpec& port) {
    const Shown before = shown();
    if (port.number > 0) {
        choose(port.number - 1);
    } else {
        showDevice(port.device);
    }
    return [this, before] { restore(before); }; // the field shows no port not in use
}

void PortComboBox::choose(int index) {
    typed_ = false;
    device_.clear();
    setCurrentIndex(index);
    chosenIndex_ = index;
}

void PortComboBox::showDevice(const QString& device) {
    setCurrentIndex(-1);
    setEditText(device);
    lineEdit()->setCursorPosition(0);
    chosenIndex_ = -1;
    device_ = device;
}

void PortComboBox::restore(const Shown& shown) {
    setCurrentIndex(shown.current);
    setEditText(shown.text);
    lineEdit()->setCursorPosition(0);
    chosenIndex_ = shown.chosen;
    typed_ = shown.typed;
    device_ = shown.device;
}

void PortComboBox::showPopup() {
    refreshToolTips(); // devices come and go
    typed_ = false;
    QComboBox::showPopup();
}

} // namespace relais
