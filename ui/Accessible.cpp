#include "ui/Accessible.h"

#include <QLabel>
#include <QVariant>

namespace ui {
namespace {

// Where a label keeps the description it has while it shows nothing.
constexpr const char* kIdleDescriptionProperty = "quorvaneIdleDescription";

}  // namespace

void NameChangingLabel(QLabel& label, const QString& name, const QString& idleDescription) {
    label.setProperty(kIdleDescriptionProperty, idleDescription);
    NameAfterText(label, name);
}

void DescribeByText(QLabel& label, const QString& text) {
    const QString description =
        text.isEmpty() ? label.property(kIdleDescriptionProperty).toString() : text;
    if (label.accessibleDescription() != description) {
        label.setAccessibleDescription(description);
    }
}

void NameAfterText(QLabel& label, const QString& name) {
    if (label.accessibleName() != name) {
        label.setAccessibleName(name);
    }
    DescribeByText(label, label.text());
}

}  // namespace ui
