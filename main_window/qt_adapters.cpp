#include "qt_adapters.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace relais {

void BoxMessages::showMessage(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, &parent_);
    box.button(QMessageBox::Ok)->setIcon(QIcon()); // a plain OK, as every style shows it
    box.exec();
}

} // namespace relais
