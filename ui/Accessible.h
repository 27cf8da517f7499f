#pragma once

#include <QString>

class QLabel;

namespace ui {

// Gives a label that shows a changing text (a result field, the status panel) that text
// as the name screen readers say, `idleName` while it is empty, and tells them that it
// changed. Called after each change of the text.
void NameAfterText(QLabel& label, const QString& idleName);

}  // namespace ui
