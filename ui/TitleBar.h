#pragma once

// How wide a window must be for the window system to show its whole caption.

#include <initializer_list>

class QWidget;

namespace ui {

// Room for the title bar's icon and buttons beside the caption, in pixels.
inline constexpr int kTitleBarAllowance = 120;

// The width the title bar needs: the window system shows the caption followed by the
// program's name (as QPlatformWindow::formatWindowTitle does), most title bars in bold,
// beside the window's icon and buttons.
[[nodiscard]] int TitleBarWidth(const QWidget& window);

// Widens a form whose controls are placed by position (TForm3, TForm4) to TitleBarWidth
// when it is narrower: the controls in `stretched` grow by the difference, those in
// `shifted` move right by it, so the form keeps its margins. Nothing when it is wide
// enough. The form's fixed size follows.
void WidenForCaption(QWidget& form, std::initializer_list<QWidget*> stretched,
                     std::initializer_list<QWidget*> shifted);

}  // namespace ui
