#pragma once

// Which program the desktop opens an HTML page with, and whether a person can read the page
// there. Help is handed to the desktop only when that program is a browser (a graphical
// application); a terminal editor or pager would show the page's source, or nothing.

#include <QString>

namespace ui {

struct HtmlHandler {
    QString desktopEntry;    // path of the handler's desktop entry; empty when none was found
    bool graphical = false;  // a graphical application that is installed, not run in a terminal
};

// The desktop's handler for text/html, as the freedesktop MIME application lists name it:
// the first installed application of "Default Applications" in the mimeapps.list files
// (and the older defaults.list), in the order of the XDG base folders ($XDG_CONFIG_HOME,
// $XDG_CONFIG_DIRS, then the applications folders of $XDG_DATA_HOME and $XDG_DATA_DIRS);
// without one, the first of the "Added Associations" and of mimeinfo.cache. It is not
// graphical when its desktop entry says Terminal=true, when the program its command runs is
// not installed (neither an executable file nor found on PATH), or when that program is a
// terminal program (an editor, a pager, a text browser, a terminal emulator). The program is
// looked for through the wrappers that run another one: env, exec, nohup, setsid and a
// shell's -c command line ("sh -c \"x-terminal-emulator -e vim %f\"" runs a terminal).
[[nodiscard]] HtmlHandler FindHtmlHandler();

// Whether the desktop shows an HTML page in a browser. On Windows and macOS the system's
// own handler always is one; elsewhere FindHtmlHandler decides.
[[nodiscard]] bool DesktopShowsHtml();

}  // namespace ui
