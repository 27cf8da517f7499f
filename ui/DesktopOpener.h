#pragma once

// Opening a document or an address with the desktop, and learning whether it opened.

#include <QObject>
#include <QUrl>
#include <functional>

namespace ui {

// Opens `url` with the desktop's opener and tells `done` whether it did, on this thread and
// possibly later. On Windows and macOS the system's own "open" answers at once. Elsewhere the
// desktop's opener xdg-open is run as a process of the program and its exit status read: one
// that is missing, fails to start, crashes or exits with a failure (3: no program for the
// file) opened nothing. QDesktopServices only starts it and reports that it started. The
// running opener belongs to `context`; `done` is not called once `context` is gone.
void OpenWithDesktop(const QUrl& url, QObject& context, std::function<void(bool opened)> done);

}  // namespace ui
