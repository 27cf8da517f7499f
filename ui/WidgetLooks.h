#pragma once

// The looks the window gives its controls by hand: text and background colours, and the
// black pictures of the result fields.

class QColor;
class QLabel;
class QWidget;

namespace ui {

void SetTextColour(QLabel* label, const QColor& colour);
// A filled background of `colour` (the phrase indicators, the result fields).
void SetBackground(QWidget* widget, const QColor& colour);
// A result field's image: a black picture filling the label.
void PaintBlack(QLabel* image);

}  // namespace ui
