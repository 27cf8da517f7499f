// The program's Study page through the real sound stack: a private PulseAudio server
// (tests/audio/private-pulse.sh) whose default source hears whatever is played into its
// "micfeed" sink, PortAudio, and the main window's press-and-hold Record button. While
// Record is held, a spoken phrase is played into the microphone; the level meter has to
// move, the recording has to pass the level checks, three such recordings enrol a user,
// and a fresh recording of one of the phrases verifies.
// Skipped, with the reason, where no PulseAudio server can be started.

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "audio/PortAudioDevice.h"
#include "tests/ui/Phrases.h"
#include "tests/ui/ProgramWindows.h"
#include "tests/ui/ScriptedPrompt.h"
#include "ui/Application.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui_Main.h"

#ifndef QUORVANE_PRIVATE_PULSE
#error "QUORVANE_PRIVATE_PULSE must name tests/audio/private-pulse.sh"
#endif

class RealStackTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void enrolAndVerifyThroughTheMicrophone();

private:
    bool Script(const QStringList& arguments, int timeoutMs = 20000) {
        QProcess process;
        process.start(QStringLiteral("bash"),
                      QStringList{QStringLiteral(QUORVANE_PRIVATE_PULSE)} + arguments);
        return process.waitForFinished(timeoutMs) && process.exitCode() == 0;
    }
    // Holds Record while `phrase` is played into the microphone; returns the highest
    // level the meter showed.
    int HoldRecordWhilePlaying(Ui::TForm1& ui, const QString& phrase);

    QTemporaryDir folder_{QDir::tempPath() + QStringLiteral("/quorvane-ui-pulse-XXXXXX")};
    QString skipReason_;
    bool started_ = false;
};

void RealStackTest::initTestCase() {
    if (!folder_.isValid()) {
        skipReason_ = QStringLiteral("no temporary folder");
        return;
    }
    for (const char* tool :
         {"bash", "pulseaudio", "pactl", "pacat", "paplay", "espeak-ng", "sox"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            skipReason_ = QStringLiteral("no %1 on this machine").arg(QString::fromLatin1(tool));
            return;
        }
    }
    const QString dir = folder_.path();
    if (!Script(
            {QStringLiteral("start"), dir, QString::number(QCoreApplication::applicationPid())})) {
        Script({QStringLiteral("stop"), dir});
        skipReason_ = QStringLiteral("no PulseAudio server could be started here");
        return;
    }
    started_ = true;
    {
        QFile conf(folder_.filePath(QStringLiteral("client.conf")));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write("autospawn = no\n");
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

    QVERIFY(SpeakPhraseWav(folder_.path(), QStringLiteral("p1"),
                           QStringLiteral("My voice is my key, open the files for me.")));
    QVERIFY(SpeakPhraseWav(folder_.path(), QStringLiteral("p2"),
                           QStringLiteral("Seven green lanterns shine above the quiet harbour.")));
    QVERIFY(SpeakPhraseWav(
        folder_.path(), QStringLiteral("p3"),
        QStringLiteral("Please remember the number forty two and the colour blue.")));
}

void RealStackTest::cleanupTestCase() {
    if (started_) {
        Script({QStringLiteral("stop"), folder_.path()});
    }
}

int RealStackTest::HoldRecordWhilePlaying(Ui::TForm1& ui, const QString& phrase) {
    int highest = 0;
    const QMetaObject::Connection watch =
        connect(ui.Pr1, &QProgressBar::valueChanged, this,
                [&highest](int value) { highest = std::max(highest, value); });
    QTest::mousePress(ui.BitBtn1, Qt::LeftButton);
    QTest::qWait(300);
    QProcess play;
    play.start(QStringLiteral("bash"),
               {QStringLiteral(QUORVANE_PRIVATE_PULSE), QStringLiteral("play"), folder_.path(),
                folder_.filePath(phrase + QStringLiteral(".wav"))});
    QElapsedTimer waited;
    waited.start();
    // The event loop runs meanwhile, so the level meter ticks every 200 ms.
    while (play.state() != QProcess::NotRunning && waited.elapsed() < 20000) {
        QTest::qWait(50);
    }
    QTest::qWait(400);
    QTest::mouseRelease(ui.BitBtn1, Qt::LeftButton);
    disconnect(watch);
    return highest;
}

void RealStackTest::enrolAndVerifyThroughTheMicrophone() {
    if (!skipReason_.isEmpty()) {
        QSKIP(qPrintable(skipReason_));
    }
    ScriptedPrompt prompt;
    const QString speakers = folder_.filePath(QStringLiteral("Speakers"));
    QVERIFY(QDir().mkpath(speakers));
    ProgramWindows windows(prompt, std::make_unique<quorvane::PortAudioDevice>(),
                           std::filesystem::path(QFile::encodeName(speakers).toStdString()));
    TForm1& form1 = *windows.form1;
    Ui::TForm1& ui = windows.ui();

    QRadioButton* phraseSlots[] = {ui.RadioGroup1_0, ui.RadioGroup1_1, ui.RadioGroup1_2};
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("p%1").arg(i + 1);
        const int meter = HoldRecordWhilePlaying(ui, name);
        QVERIFY2(prompt.Messages().isEmpty(), qPrintable(prompt.Messages().join(QLatin1Char('|'))));
        QVERIFY2(meter > 0, "the level meter never moved while the phrase was heard");
        // Roughly the phrase and the time held around it; at least the spoken part.
        QVERIFY2(form1.enrolment.RecordedCount() > 20000, qPrintable(QString::number(form1.enrolment.RecordedCount())));
        QTest::mouseClick(phraseSlots[i], Qt::LeftButton);
        QTest::mouseClick(ui.Button1, Qt::LeftButton);
        QVERIFY2(prompt.Messages().isEmpty(), qPrintable(prompt.Messages().join(QLatin1Char('|'))));
        QVERIFY(form1.PhraseIndicatorGreen(i));
    }
    prompt.OnShowModal([](QDialog& dialog) { static_cast<TForm2&>(dialog).SetItemIndex(0); });
    QTest::mouseClick(ui.Button4, Qt::LeftButton);
    QVERIFY(form1.enrolment.Threshold() > 0.0f);

    // The second phrase again, heard afresh: the same voice is accepted.
    HoldRecordWhilePlaying(ui, QStringLiteral("p2"));
    QTest::mouseClick(ui.Verifikate, Qt::LeftButton);
    QVERIFY2(prompt.Messages().isEmpty(), qPrintable(prompt.Messages().join(QLatin1Char('|'))));
    QCOMPARE(ui.Label2->text(), QStringLiteral("Your result: Positive"));
    qInfo("%s", qPrintable(form1.StatusText()));

    // Play it back: the device opens and closes without a warning.
    QTest::mousePress(ui.BitBtn2, Qt::LeftButton);
    QTest::qWait(600);
    QTest::mouseRelease(ui.BitBtn2, Qt::LeftButton);
    QVERIFY(prompt.Messages().isEmpty());
    QVERIFY(!form1.Timer1->isActive());
}

int main(int argc, char** argv) {
    Application application(argc, argv);
    Application::setQuitOnLastWindowClosed(false);
    RealStackTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_realstack.moc"
