#include "ui/HtmlHandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
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

// Shells whose -c runs a command line of its own.
const QStringList kShells = {QStringLiteral("sh"),  QStringLiteral("bash"), QStringLiteral("dash"),
                             QStringLiteral("zsh"), QStringLiteral("ksh"),  QStringLiteral("mksh")};

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

// The value of a desktop entry's string with its escapes (\s \n \t \r \\) resolved.
QString Unescaped(const QString& value) {
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            text += value[i];
            continue;
        }
        switch (const QChar next = value[++i]; next.unicode()) {
            case 's':
                text += QLatin1Char(' ');
                break;
            case 'n':
                text += QLatin1Char('\n');
                break;
            case 't':
                text += QLatin1Char('\t');
                break;
            case 'r':
                text += QLatin1Char('\r');
                break;
            default:
                // "\\" and the quoting escapes of Exec stay for the word splitting.
                text += QLatin1Char('\\');
                text += next;
        }
    }
    return text;
}

// Words as a POSIX shell splits a simple command: blanks separate them, '...' is literal,
// inside "..." and outside quotes a backslash takes the next character as it is; the first
// unquoted ; & | or line end ends the command. A desktop entry's Exec follows a subset of
// these rules.
QStringList ShellWords(const QString& command) {
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;  // the open quote, or none
    for (qsizetype i = 0; i < command.size(); ++i) {
        const QChar c = command[i];
        if (!quote.isNull() && c == quote) {
            quote = QChar();
        } else if (quote != QLatin1Char('\'') && c == QLatin1Char('\\') && i + 1 < command.size()) {
            word += command[++i];
        } else if (!quote.isNull()) {
            word += c;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (QStringLiteral(";&|\n").contains(c)) {
            break;
        } else if (c.isSpace()) {
            if (inWord) {
                words << word;
            }
            word.clear();
            inWord = false;
            continue;
        } else {
            word += c;
        }
        inWord = true;
    }
    if (inWord) {
        words << word;
    }
    return words;
}

bool IsAssignment(const QString& word) {
    static const QRegularExpression assignment(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*="));
    return assignment.match(word).hasMatch();
}

// The program a command runs, looking through the wrappers that run another one: env with
// its settings and options, exec, nohup and setsid, and a shell's -c command. Empty when the
// command names none.
QString ProgramOf(QStringList words) {
    while (!words.isEmpty()) {
        const QString word = words.takeFirst();
        const QString name = QFileInfo(word).fileName();
        if (IsAssignment(word) || name == QLatin1String("exec") || name == QLatin1String("nohup") ||
            name == QLatin1String("setsid")) {
            continue;
        }
        if (name == QLatin1String("env")) {
            while (!words.isEmpty() &&
                   (words.first().startsWith(QLatin1Char('-')) || IsAssignment(words.first()))) {
                const QString option = words.takeFirst();
                // The two options that take a value of their own.
                if ((option == QLatin1String("-u") || option == QLatin1String("-C")) &&
                    !words.isEmpty()) {
                    words.removeFirst();
                }
            }
            continue;
        }
        if (kShells.contains(name)) {
            // sh -c COMMAND (options such as -e or -ec before it): the program is COMMAND's.
            while (!words.isEmpty() && words.first().startsWith(QLatin1Char('-')) &&
                   words.first() != QLatin1String("--")) {
                const QString option = words.takeFirst();
                if (!option.startsWith(QLatin1String("--")) && option.contains(QLatin1Char('c'))) {
                    return words.isEmpty() ? QString() : ProgramOf(ShellWords(words.first()));
                }
            }
        }
        return word;
    }
    return {};
}

// Whether a program can be run: a path to an executable file, or a name found on PATH.
bool Installed(const QString& program) {
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo file(program);
        return file.isFile() && file.isExecutable();
    }
    return !QStandardPaths::findExecutable(program).isEmpty();
}

// Whether a desktop entry runs a graphical program that is installed.
bool Graphical(const QString& entry) {
    const QString group = QStringLiteral("Desktop Entry");
    if (GroupValue(entry, group, QStringLiteral("Terminal"))
            .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    const QString program =
        ProgramOf(ShellWords(Unescaped(GroupValue(entry, group, QStringLiteral("Exec")))));
    if (program.isEmpty() || !Installed(program)) {
        return false;
    }
    const QString name = QFileInfo(program).fileName();
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
