#include "ui/QtText.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#include "workflow/Messages.h"

namespace ui {

std::filesystem::path ToPath(const QString& text) {
#ifdef _WIN32
    return std::filesystem::path(text.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(text).toStdString());
#endif
}

QString FromPath(const std::filesystem::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
#endif
}

QString RefusalText(std::string_view message, std::string_view cause) {
    QString text = FromUtf8(message);
    if (!cause.empty()) {
        text += QLatin1Char('\n') + FromUtf8(cause);
    }
    return text;
}

QString RefusalText(std::string_view message, const std::optional<quorvane::Failure>& cause) {
    return RefusalText(message, cause ? quorvane::CauseText(message, *cause) : std::string());
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString QtFilter(std::string_view pairs) {
    const QStringList parts = FromUtf8(pairs).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

QString KeyFileFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

}  // namespace ui
