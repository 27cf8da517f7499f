#pragma once

// What every handler of the window is wrapped in: an exception that escapes it is shown in
// the exception box, and a long command on the interface thread shows the wait cursor.

#include <QCursor>
#include <QGuiApplication>
#include <QString>
#include <exception>

#include "ui/Prompt.h"
#include "workflow/Messages.h"

namespace ui {

// "Quorvane 1.1", the caption of the simple message box and the exception box.
inline QString ApplicationTitle() {
    return QString::fromUtf8(quorvane::kApplicationTitle.data(),
                             static_cast<qsizetype>(quorvane::kApplicationTitle.size()));
}

// Runs one handler and shows an exception that escapes it in the exception box (the
// application title as caption, error icon) instead of letting it unwind through the
// toolkit's event delivery. The application object catches anything else.
template <typename Handler>
void RunGuarded(Prompt& prompt, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        prompt.Box(QString::fromUtf8(error.what()), ApplicationTitle(), Prompt::Icon::Error);
    } catch (...) {
        prompt.Box(QString(), ApplicationTitle(), Prompt::Icon::Error);
    }
}

// Shows the wait cursor while a long command runs on the interface thread.
class WaitCursor final {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace ui
