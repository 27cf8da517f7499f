#include "ui/Accessible.h"

#include <QLabel>

namespace ui {

void NameAfterText(QLabel& label, const QString& idleName) {
    const QString name = label.text().isEmpty() ? idleName : label.text();
    // Setting a new name also tells the screen reader that it changed.
    if (label.accessibleName() != name) {
        label.setAccessibleName(name);
    }
}

}  // namespace ui
