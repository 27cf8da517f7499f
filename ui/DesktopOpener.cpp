#include "ui/DesktopOpener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <utility>

namespace ui {

void OpenWithDesktop(const QUrl& url, QObject& context, std::function<void(bool opened)> done) {
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    static_cast<void>(context);
    done(QDesktopServices::openUrl(url));
#else
    auto* opener = new QProcess(&context);
    // The opener (and the program it starts) writes where the program's own output goes and
    // reads nothing.
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    opener->setStandardInputFile(QProcess::nullDevice());
    const auto finish = [opener, done = std::move(done)](bool opened) {
        opener->disconnect();
        opener->deleteLater();
        done(opened);
    };
    QObject::connect(opener, &QProcess::finished, opener,
                     [finish](int code, QProcess::ExitStatus status) {
                         finish(status == QProcess::NormalExit && code == 0);
                     });
    QObject::connect(opener, &QProcess::errorOccurred, opener,
                     [finish](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             finish(false);
                         }
                     });
    opener->start(QStringLiteral("xdg-open"),
                  {url.isLocalFile() ? url.toLocalFile() : url.toString()});
#endif
}

}  // namespace ui
