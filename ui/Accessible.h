#pragma once

#include <QLatin1String>
#include <QString>

class QLabel;

namespace ui {

// The names of the labels whose text changes: the result fields and the status panel.
inline constexpr QLatin1String kVerificationResultName("Verification result");
inline constexpr QLatin1String kDecodingResultName("Decoding result");
inline constexpr QLatin1String kStatusName("Status");

// Gives a label whose text changes its name for screen readers and what it is said to hold
// while it shows nothing. The name stays; the text goes to the description (DescribeByText).
void NameChangingLabel(QLabel& label, const QString& name, const QString& idleDescription);
// After a change of such a label's text: `text` (the whole of it, when the label shows it
// shortened) becomes the description, or the idle description while it is empty. Screen
// readers hear the change through the description; the name stays the control's own.
void DescribeByText(QLabel& label, const QString& text);
// The same after the label's own text changed, keeping `name` as its name.
void NameAfterText(QLabel& label, const QString& name);

}  // namespace ui
