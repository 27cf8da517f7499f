#include "ui/TitleBar.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QString>
#include <QWidget>

namespace ui {

int TitleBarWidth(const QWidget& window) {
    QFont title = window.font();
    title.setBold(true);
    QString caption = window.windowTitle();
    if (const QString program = QGuiApplication::applicationDisplayName();
        !program.isEmpty() && caption != program) {
        caption += QStringLiteral(" \u2014 ") + program;
    }
    return QFontMetrics(title).horizontalAdvance(caption) + kTitleBarAllowance;
}

void WidenForCaption(QWidget& form, std::initializer_list<QWidget*> stretched,
                     std::initializer_list<QWidget*> shifted) {
    const int extra = TitleBarWidth(form) - form.width();
    if (extra <= 0) {
        return;
    }
    for (QWidget* control : stretched) {
        control->resize(control->width() + extra, control->height());
    }
    for (QWidget* control : shifted) {
        control->move(control->x() + extra, control->y());
    }
    form.setFixedSize(form.width() + extra, form.height());
}

}  // namespace ui
