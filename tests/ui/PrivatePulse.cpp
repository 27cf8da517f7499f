#include "tests/ui/PrivatePulse.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include "tests/ui/Phrases.h"

PrivatePulse::~PrivatePulse() {
    if (started_) {
        Script({QStringLiteral("stop"), folder_.path()});
    }
}

bool PrivatePulse::Script(const QStringList& arguments, int timeoutMs) const {
    QProcess process;
    process.start(QStringLiteral("bash"), QStringList{script_} + arguments);
    return process.waitForFinished(timeoutMs) && process.exitCode() == 0;
}

QString PrivatePulse::Start(const QStringList& phrases) {
    if (!folder_.isValid()) {
        return QStringLiteral("no temporary folder");
    }
    for (const char* tool :
         {"bash", "pulseaudio", "pactl", "pacat", "paplay", "espeak-ng", "sox"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            return QStringLiteral("no %1 on this machine").arg(QString::fromLatin1(tool));
        }
    }
    const QString dir = folder_.path();
    if (!Script(
            {QStringLiteral("start"), dir, QString::number(QCoreApplication::applicationPid())})) {
        Script({QStringLiteral("stop"), dir});
        return QStringLiteral("no PulseAudio server could be started here");
    }
    started_ = true;
    {
        QFile conf(folder_.filePath(QStringLiteral("client.conf")));
        if (!conf.open(QIODevice::WriteOnly) || conf.write("autospawn = no\n") < 0) {
            return QStringLiteral("no client configuration could be written");
        }
    }
    // PortAudio reaches the server through ALSA's pulse plugin; it reads these when the
    // first device is created.
    qputenv("PULSE_SERVER",
            (QStringLiteral("unix:") + dir + QStringLiteral("/native")).toLocal8Bit());
    qputenv("PULSE_CLIENTCONFIG", folder_.filePath(QStringLiteral("client.conf")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (dir + QStringLiteral("/run")).toLocal8Bit());
    qputenv("HOME", (dir + QStringLiteral("/home")).toLocal8Bit());
    qputenv("JACK_NO_START_SERVER", "1");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    for (int i = 0; i < phrases.size(); ++i) {
        if (!SpeakPhraseWav(dir, QStringLiteral("p%1").arg(i + 1), phrases[i])) {
            return QStringLiteral("the test phrases could not be spoken");
        }
    }
    return {};
}

bool PrivatePulse::Play(const QString& phrase, int timeoutMs) {
    QProcess play;
    play.start(QStringLiteral("bash"), {script_, QStringLiteral("play"), folder_.path(),
                                        folder_.filePath(phrase + QStringLiteral(".wav"))});
    QElapsedTimer waited;
    waited.start();
    // The event loop runs meanwhile, so the level meter ticks every 200 ms.
    while (play.state() != QProcess::NotRunning && waited.elapsed() < timeoutMs) {
        QTest::qWait(50);
    }
    return play.state() == QProcess::NotRunning && play.exitCode() == 0;
}
