#pragma once

#include <QLatin1String>
#include <QString>

class QLabel;

namespace ui {

// What the result fields and the status panel are called while they show nothing.
inline constexpr QLatin1String kVerificationResultName("Verification result");
inline constexpr QLatin1String kDecodingResultName("Decoding result");
inline constexpr QLatin1String kStatusName("Status");

// Gives a label that shows a changing text (a result field, the status panel) that text
// as the name screen readers say, `idleName` while it is empty, and tells them that it
// changed. Called after each change of the text.
void NameAfterText(QLabel& label, const QString& idleName);

}  // namespace ui
