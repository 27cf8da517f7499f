#include "ui/HtmlHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>
#include <QtGlobal>
#include <algorithm>
#include <array>

namespace ui {
namespace {

constexpr QLatin1String kHtmlType("text/html");

// Programs that run in a terminal: an HTML page handed to them is shown as its source, in a
// text browser or not at all.
constexpr std::array kTerminalPrograms = {
    QLatin1String("vi"),
    QLatin1String("vim"),
    QLatin1String("vim.basic"),
    QLatin1String("vim.tiny"),
    QLatin1String("vim.nox"),
    QLatin1String("nvim"),
    QLatin1String("view"),
    QLatin1String("ex"),
    QLatin1String("ed"),
    QLatin1String("nano"),
    QLatin1String("rnano"),
    QLatin1String("pico"),
    QLatin1String("joe"),
    QLatin1String("jed"),
    QLatin1String("micro"),
    QLatin1String("ne"),
    QLatin1String("mcedit"),
    QLatin1String("mcview"),
    QLatin1String("less"),
    QLatin1String("more"),
    QLatin1String("most"),
    QLatin1String("pg"),
    QLatin1String("w3m"),
    QLatin1String("lynx"),
    QLatin1String("links"),
    QLatin1String("elinks"),
    QLatin1String("x-terminal-emulator"),
    QLatin1String("xterm"),
    QLatin1String("uxterm"),
    QLatin1String("gnome-terminal"),
    QLatin1String("konsole"),
    QLatin1String("xfce4-terminal"),
    QLatin1String("lxterminal"),
    QLatin1String("urxvt"),
    QLatin1String("rxvt"),
    QLatin1String("st"),
};

// An XDG variable's folders, or the default when it is unset or empty; relative folders
// are ignored, as the base directory rules say.
QStringList Folders(const char* variable, const QString& fallback) {
    QString value = qEnvironmentVariable(variable);
    if (value.isEmpty()) {
        value = fallback;
    }
    QStringList folders;
    for (const QString& folder : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(folder)) {
            folders << QDir::cleanPath(folder);
        }
    }
    return folders;
}

// The value of `key` in `group` of a desktop-entry style file ("[Group]", "Key=Value").
QString GroupValue(const QString& file, const QString& group, const QString& key) {
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream stream(&in);
    bool inGroup = false;
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    while (!stream.atEnd()) {
        const QString line = stream.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == header;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inGroup && equals > 0 && line.left(equals).trimmed() == key) {
            return line.mid(equals + 1).trimmed();
        }
    }
    return {};
}

QStringList Applications(const QString& file, const QString& group) {
    return GroupValue(file, group, kHtmlType).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// The desktop entry of an application id in the applications folders ("kde-foo.desktop"
// may also be "kde/foo.desktop"); empty when it is not installed.
QString DesktopEntry(const QStringList& applicationFolders, const QString& id) {
    for (const QString& folder : applicationFolders) {
        QStringList candidates{id};
        if (const qsizetype dash = id.indexOf(QLatin1Char('-')); dash > 0) {
            candidates << id.left(dash) + QLatin1Char('/') + id.mid(dash + 1);
        }
        for (const QString& candidate : candidates) {
            const QString path = folder + QLatin1Char('/') + candidate;
            if (QFileInfo(path).isFile()) {
                return path;
            }
        }
    }
    return {};
}

// Whether a desktop entry runs a graphical program.
bool Graphical(const QString& entry) {
    const QString group = QStringLiteral("Desktop Entry");
    if (GroupValue(entry, group, QStringLiteral("Terminal"))
            .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    // The program is the first word that is not "env" or one of its NAME=value settings.
    const QStringList words = GroupValue(entry, group, QStringLiteral("Exec"))
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const auto program = std::find_if(words.begin(), words.end(), [](const QString& word) {
        return word != QLatin1String("env") && !word.contains(QLatin1Char('='));
    });
    if (program == words.end()) {
        return false;
    }
    QString name = QFileInfo(*program).fileName();
    name.remove(QLatin1Char('"'));
    return std::none_of(kTerminalPrograms.begin(), kTerminalPrograms.end(),
                        [&name](QLatin1String terminal) { return name == terminal; });
}

}  // namespace

HtmlHandler FindHtmlHandler() {
    const QString home = QDir::homePath();
    const QStringList configFolders =
        Folders("XDG_CONFIG_HOME", home + QStringLiteral("/.config")) +
        Folders("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    QStringList applicationFolders;
    for (const QString& data :
         Folders("XDG_DATA_HOME", home + QStringLiteral("/.local/share")) +
             Folders("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"))) {
        applicationFolders << data + QStringLiteral("/applications");
    }
    // The lists in their order of precedence: a desktop's own list before the common one.
    QStringList desktops;
    for (const QString& desktop :
         qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        desktops << desktop.toLower() + QStringLiteral("-mimeapps.list");
    }
    desktops << QStringLiteral("mimeapps.list");
    QStringList lists;
    for (const QString& folder : configFolders + applicationFolders) {
        for (const QString& name : desktops) {
            lists << folder + QLatin1Char('/') + name;
        }
    }

    QStringList defaults;
    QStringList added;
    for (const QString& list : lists) {
        defaults << Applications(list, QStringLiteral("Default Applications"));
        added << Applications(list, QStringLiteral("Added Associations"));
    }
    for (const QString& folder : applicationFolders) {
        defaults << Applications(folder + QStringLiteral("/defaults.list"),
                                 QStringLiteral("Default Applications"));
        added << Applications(folder + QStringLiteral("/mimeinfo.cache"),
                              QStringLiteral("MIME Cache"));
    }
    for (const QString& id : defaults + added) {
        if (const QString entry = DesktopEntry(applicationFolders, id); !entry.isEmpty()) {
            return {entry, Graphical(entry)};
        }
    }
    return {};
}

bool DesktopShowsHtml() {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    return true;
#else
    return FindHtmlHandler().graphical;
#endif
}

}  // namespace ui
