#pragma once

#include "colors.h"

#include <QByteArray>
#include <QString>

namespace relais {

// The few things the relay logic touches. The window implements them with
// widgets and the serial port; tests implement them with plain values.

// A button whose face colour is the state it shows.
class ColorButton {
public:
    virtual ~ColorButton() = default;
    virtual Color backColor() const = 0;
    virtual void setBackColor(Color color) = 0;
};

// A text shown to the user (or kept hidden, for diagnosis).
class CaptionTarget {
public:
    virtual ~CaptionTarget() = default;
    virtual void setCaption(const QString& caption) = 0;
};

// Where the frames go. Either call may throw when the line has failed.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Sends the bytes in order, in one piece.
    virtual void write(const QByteArray& frame) = 0;
    // Drops what still waits from before the last write; that write's data
    // still goes out whole.
    virtual void discardPending() = 0;
};

} // namespace relais
