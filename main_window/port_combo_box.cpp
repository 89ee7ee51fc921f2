#include "port_combo_box.h"

#include "messages.h"
#include "texts.h"

#include <QKeyEvent>
#include <QLineEdit>

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
    // The field is narrow for the prompt in common desktop fonts: give the
    // text the edit's own margin, and show it from its start.
    lineEdit()->setTextMargins(-2, 0, 0, 0);
    lineEdit()->setCursorPosition(0);
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
    });
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

void PortComboBox::choose(int index) {
    typed_ = false;
    setCurrentIndex(index);
    chosenIndex_ = index;
}

void PortComboBox::showDevice(const QString& device) {
    setCurrentIndex(-1);
    setEditText(device);
    lineEdit()->setCursorPosition(0);
    chosenIndex_ = -1;
}

void PortComboBox::restore(const Shown& shown) {
    setCurrentIndex(shown.current);
    setEditText(shown.text);
    lineEdit()->setCursorPosition(0);
    chosenIndex_ = shown.chosen;
    typed_ = shown.typed;
}

void PortComboBox::showPopup() {
    refreshToolTips(); // devices come and go
    typed_ = false;
    QComboBox::showPopup();
}

} // namespace relais
