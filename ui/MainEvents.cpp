// The main window's event filter: the mouse and Space on Record (BitBtn1) and Play
// (BitBtn2), the pointer over the window's own surface (FormMouseMove) and the About page's
// links (Label6, Label7, Label9, Label12). Each event goes to the handler of its control, guarded
// like every handler.

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

#include "ui/HandlerGuard.h"
#include "ui/Main.h"
#include "ui_Main.h"

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    bool consumed = false;
    ui::RunGuarded(prompt, [&] { consumed = FilterEvent(watched, event); });
    return consumed;
}

bool TForm1::FilterEvent(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == ui->BitBtn1 || watched == ui->BitBtn2) {
        const bool record = watched == ui->BitBtn1;
        if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_Space) {
                return false;
            }
            // The button's own Space handling (a click) is replaced by the hold.
            type == QEvent::KeyPress ? SpaceDown(record, key->isAutoRepeat())
                                     : SpaceUp(key->isAutoRepeat());
            return true;
        }
        if (type == QEvent::FocusOut && keyHold_ != Hold::None) {
            KeyHoldReleased();
            return false;
        }
        if (type == QEvent::MouseMove) {
            record ? BitBtn1MouseMove() : BitBtn2MouseMove();
        } else if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
            const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
            record ? BitBtn1MouseDown(button) : BitBtn2MouseDown(button);
            // A hold that has already ended (its release went to a warning box) leaves
            // the button up instead of waiting for a release that will not come.
            if (button == Qt::LeftButton && hold_ == Hold::None) {
                return true;
            }
        } else if (type == QEvent::MouseButtonRelease) {
            const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
            record ? BitBtn1MouseUp(button) : BitBtn2MouseUp(button);
        }
        // The button still draws itself pressed and released.
        return false;
    }
    if (watched == ui->centralwidget) {
        // Only the window's own surface: moves over a child control that the child
        // passed on to its parent do not count.
        if (type == QEvent::MouseMove &&
            ui->centralwidget->childAt(static_cast<QMouseEvent*>(event)->position().toPoint()) ==
                nullptr) {
            FormMouseMove();
        }
        return false;
    }
    // The About page's links, each with its click and hover handlers.
    struct Link {
        QLabel* label;
        void (TForm1::*click)();
        void (TForm1::*enter)();
        void (TForm1::*leave)();
    };
    const Link links[] = {
        {ui->Label6, &TForm1::Label6Click, &TForm1::Label6MouseEnter, &TForm1::Label6MouseLeave},
        {ui->Label7, &TForm1::Label7Click, &TForm1::Label7MouseEnter, &TForm1::Label7MouseLeave},
        {ui->Label9, &TForm1::Label9Click, &TForm1::Label9MouseEnter, &TForm1::Label9MouseLeave},
        {ui->Label12, &TForm1::Label12Click, &TForm1::Label12MouseEnter,
         &TForm1::Label12MouseLeave},
    };
    for (const Link& link : links) {
        if (watched != link.label) {
            continue;
        }
        if (type == QEvent::Enter) {
            (this->*link.enter)();
        } else if (type == QEvent::Leave) {
            (this->*link.leave)();
        } else if (type == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton &&
                link.label->rect().contains(mouse->position().toPoint())) {
                (this->*link.click)();
            }
        }
        return false;
    }
    return QMainWindow::eventFilter(watched, event);
}
