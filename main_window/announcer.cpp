#include "announcer.h"

#include "texts.h"

#include <QAccessibleWidget>
#include <QStringList>

namespace relais {

namespace {

// "1", "1 und 2", "1, 2 und 3"
QString numbers(const QList<int>& relays) {
    QStringList words;
    for (int relay : relays) {
        words << QString::number(relay);
    }
    const QString last = words.takeLast();
    return words.isEmpty() ? last
                           : words.join(QStringLiteral(", ")) + QStringLiteral(" und ") + last;
}

class NotificationAccessible : public QAccessibleWidget {
public:
    explicit NotificationAccessible(Announcer* announcer)
        : QAccessibleWidget(announcer, QAccessible::Notification) {}
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? static_cast<Announcer*>(widget())->text() : QString();
    }
};

} // namespace

QString changeAnnouncement(const QList<int>& switchedOn, const QList<int>& switchedOff,
                           std::optional<bool> linkRunning) {
    QStringList parts;
    if (linkRunning) {
        parts << (*linkRunning ? texts::kLinkRunning : texts::kLinkStopped);
    }
    if (!switchedOn.isEmpty()) {
        parts << QStringLiteral("Relais %1 %2").arg(numbers(switchedOn), texts::kRelayOn);
    }
    if (!switchedOff.isEmpty()) {
        parts << QStringLiteral("Relais %1 %2").arg(numbers(switchedOff), texts::kRelayOff);
    }
    return parts.join(QStringLiteral(", "));
}

Announcer::Announcer(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Announcer"));
    setFocusPolicy(Qt::NoFocus);
    hide();
}

void Announcer::announce(const QString& text) {
    text_ = text;
    if (QAccessible::isActive()) {
        // Unseen all along; the event alone makes a screen reader speak it.
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
    emit announced(text);
}

QAccessibleInterface* announcerAccessible(const QString&, QObject* object) {
    if (auto* announcer = qobject_cast<Announcer*>(object)) {
        return new NotificationAccessible(announcer);
    }
    return nullptr;
}

} // namespace relais
