#pragma once

#include "colors.h"

#include <QString>

namespace relais {

// The few control properties the logic touches. The window implements them
// with widgets; tests implement them with plain values.

class ColorButton {
public:
    virtual ~ColorButton() = default;
    virtual Color BackColor() const = 0;
    virtual void setBackColor(Color color) = 0;
};

class CaptionTarget {
public:
    virtual ~CaptionTarget() = default;
    virtual void setCaption(const QString& caption) = 0;
};

} // namespace relais
