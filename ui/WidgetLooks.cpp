#include "ui/WidgetLooks.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <algorithm>

namespace ui {

void SetTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void SetBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A result field's image: a black picture filling the label.
void PaintBlack(QLabel* image) {
    QPixmap picture(std::max(image->width(), 16), std::max(image->height(), 16));
    picture.fill(Qt::black);
    image->setPixmap(picture);
}

}  // namespace ui
