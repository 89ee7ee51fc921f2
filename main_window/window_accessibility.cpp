#include "window_accessibility.h"

#include "announcer.h"
#include "window_layout.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace relais {

namespace {

class ShownChildrenAccessible : public QAccessibleWidget {
public:
    explicit ShownChildrenAccessible(QWidget* window)
        : QAccessibleWidget(window, QAccessible::Window) {}

    int childCount() const override { return int(shownChildren().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QWidget*> children = shownChildren();
        return index >= 0 && index < children.size()
                   ? QAccessible::queryAccessibleInterface(children[index])
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(shownChildren().indexOf(qobject_cast<QWidget*>(child->object()))) : -1;
    }

private:
    QList<QWidget*> shownChildren() const {
        QList<QWidget*> shown;
        for (QWidget* w : widget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!w->isWindow() && !w->isHidden()) {
                shown << w;
            }
        }
        return shown;
    }
};

QAccessibleInterface* windowFactory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && widget->isWindow() && widget->objectName() == kWindowName) {
        return new ShownChildrenAccessible(widget);
    }
    return nullptr;
}

} // namespace

void installWindowAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(windowFactory);
        QAccessible::installFactory(announcerAccessible);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace relais
