#include "relay_button_rules.h"

#include "durations.h"
#include "messages.h"
#include "relay_command.h"

#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QToolTip>

namespace relais {

RelayButtonRules::RelayButtonRules(RelayCore& core, MessagePresenter& messages, QObject* parent)
    : QObject(parent), core_(core), messages_(messages) {}

void RelayButtonRules::attach(GraphicalButton* button, int relay) {
    button->setProperty("relay", relay);
    button->setDetail(core_.rules().relays[relay - 1].name);
    button->installEventFilter(this);
}

QString RelayButtonRules::tipFor(int relay) const {
    QString tip = core_.rules().relays[relay - 1].name;
    if (const auto end = core_.offAt(relay)) {
        const QString left =
            QStringLiteral("aus in %1")
                .arg(durationText(std::max<qint64>(0, *end - core_.clock().now())));
        tip = tip.isEmpty() ? left : tip + QStringLiteral(", ") + left;
    }
    return tip;
}

bool RelayButtonRules::eventFilter(QObject* watched, QEvent* event) {
    auto* button = qobject_cast<GraphicalButton*>(watched);
    const int relay = watched->property("relay").toInt();
    if (button == nullptr || relay == 0) {
        return false;
    }
    if (event->type() == QEvent::ToolTip) {
        const QString tip = tipFor(relay);
        tip.isEmpty()
            ? QToolTip::hideText()
            : QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), tip, button);
        return true;
    }
    if (event->type() == QEvent::ContextMenu) {
        offerPulse(button, relay, static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return false;
}

void RelayButtonRules::offerPulse(GraphicalButton* button, int relay, const QPoint& where) {
    const qint64 length = core_.rules().relays[relay - 1].pulseMs;
    QMenu menu(button);
    QAction* pulse =
        menu.addAction(length > 0 ? QStringLiteral("Impuls (%1)").arg(durationText(length))
                                  : QStringLiteral("Impuls (keine Länge eingestellt)"));
    pulse->setEnabled(length > 0);
    if (menu.exec(where) != pulse) {
        return;
    }
    if (const auto refusal =
            carryOut(core_, RelayCommand::pulse(relay, std::nullopt), [] { return QStringList(); },
                     {ChangeSource::Kind::WindowMouse, {}})) {
        messages_.showMessage(refusal->text, messages::kTitle);
    }
}

} // namespace relais
