#include "qt_controls.h"

#include "messages.h"
#include "texts.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

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
    color_ = color;
    if (color & 0x80000000u) {
        setStyleSheet(QString()); // the style's own button face
        return;
    }
    // A style sheet with a border gives a flat face in every style; the
    // palette alone would be drawn as a pale gradient by some.
    setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: 1px solid #404040; }"
                                 "QPushButton:pressed { border: 2px inset #404040; }"
                                 "QPushButton:focus { border: 2px solid #000000; }")
                      .arg(screenColor(color, palette()).name()));
}

void RelayButton::setBackColor(Color color) {
    GraphicalButton::setBackColor(color);
    setAccessibleDescription(color == kGreen ? texts::kRelayOn : texts::kRelayOff);
}

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
            listIndex_ = index;
        }
    });
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
        typed_ = true;
        listIndex_ = -1;
    });
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

void PortComboBox::showPopup() {
    refreshToolTips(); // devices come and go
    typed_ = false;
    QComboBox::showPopup();
}

void QtTickTimer::setEnabled(bool enabled) {
    if (enabled) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

void BoxMessages::showMessage(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, &parent_);
    box.button(QMessageBox::Ok)->setIcon(QIcon()); // a plain OK, as every style shows it
    box.exec();
}

} // namespace relais
