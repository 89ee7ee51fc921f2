#pragma once

#include <QAccessible>
#include <QList>
#include <QWidget>

#include <optional>

namespace relais {

// What a change means, in words: "Verbindung läuft", "Relais 5 eingeschaltet",
// "Relais 1, 2 und 3 eingeschaltet, Relais 4 ausgeschaltet". Empty when
// nothing changed.
QString changeAnnouncement(const QList<int>& switchedOn, const QList<int>& switchedOff,
                           std::optional<bool> linkRunning);

// Tells a screen reader of a change without moving the focus: an unseen
// notification that is "shown" anew with every announcement, which screen
// readers speak whatever has the focus.
class Announcer : public QWidget {
    Q_OBJECT

public:
    explicit Announcer(QWidget* parent);
    void announce(const QString& text);
    const QString& text() const { return text_; }

signals:
    void announced(const QString& text);

private:
    QString text_;
};

// Makes Qt describe an Announcer as a notification.
QAccessibleInterface* announcerAccessible(const QString& className, QObject* object);

} // namespace relais
