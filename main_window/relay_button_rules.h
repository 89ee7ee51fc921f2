#pragma once

#include "color_buttons.h"
#include "link_control.h"
#include "relay_core.h"

#include <QObject>

namespace relais {

// The rules on the relay buttons: the relay's name as tooltip and in its
// accessible description, the time left before it goes off by itself in
// the tooltip, and a context menu (mouse, Menu key or Shift+F10) with its
// pulse.
class RelayButtonRules : public QObject {
    Q_OBJECT

public:
    RelayButtonRules(RelayCore& core, MessagePresenter& messages, QObject* parent);
    // Once the rules are set: names on the buttons, the menus' events.
    void attach(GraphicalButton* button, int relay);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString tipFor(int relay) const;
    void offerPulse(GraphicalButton* button, int relay, const QPoint& where);

    RelayCore& core_;
    MessagePresenter& messages_;
};

} // namespace relais
