// Record held with the Space key under a real X server with a window manager
// (tests/ui/under-x.sh: Xvfb, openbox, key auto-repeat on), the key pressed and released
// through the X server by xdotool, while a phrase reaches the microphone of the real
// sound stack (a private PulseAudio server, PortAudio). The recording must last as long
// as the key is held, auto-repeat or not, and pass the level checks.
// Skipped, with the reason, where no PulseAudio server can be started.

#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "audio/PortAudioDevice.h"
#include "tests/ui/PrivatePulse.h"
#include "tests/ui/ProgramWindows.h"
#include "tests/ui/ScriptedPrompt.h"
#include "ui/Application.h"
#include "ui/Main.h"
#include "ui_Main.h"

#ifndef QUORVANE_PRIVATE_PULSE
#error "QUORVANE_PRIVATE_PULSE must name tests/audio/private-pulse.sh"
#endif

namespace {

// Counts the auto-repeated Space presses that reach a widget.
class RepeatCounter final : public QObject {
public:
    int repeats = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Space && key->isAutoRepeat()) {
                ++repeats;
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

bool Xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

}  // namespace

class KeyboardHoldTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void spaceHeldOnRecordWhileAPhraseIsHeard();

private:
    PrivatePulse pulse_{QStringLiteral(QUORVANE_PRIVATE_PULSE)};
    QString skipReason_;
};

void KeyboardHoldTest::initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"),
             "run under tests/ui/under-x.sh");
    skipReason_ = pulse_.Start({QStringLiteral(
        "Seven green lanterns shine above the quiet harbour, and the night is long.")});
}

void KeyboardHoldTest::spaceHeldOnRecordWhileAPhraseIsHeard() {
    if (!skipReason_.isEmpty()) {
        QSKIP(qPrintable(skipReason_));
    }
    ScriptedPrompt prompt;
    const QString speakers = pulse_.Folder() + QStringLiteral("/Speakers");
    ProgramWindows windows(prompt, std::make_unique<quorvane::PortAudioDevice>(),
                           std::filesystem::path(QFile::encodeName(speakers).toStdString()));
    TForm1& form1 = *windows.form1;
    Ui::TForm1& ui = windows.ui();
    form1.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form1));
    ui.BitBtn1->setFocus();
    QTRY_VERIFY(ui.BitBtn1->hasFocus());
    RepeatCounter counter;
    ui.BitBtn1->installEventFilter(&counter);

    // The phrase as heard: 16-bit mono samples at 11025 Hz after a 44-byte header.
    const qint64 phraseSamples =
        (QFileInfo(pulse_.Folder() + QStringLiteral("/p1.wav")).size() - 44) / 2;
    QVERIFY(phraseSamples > 20000);

    QVERIFY(Xdotool({QStringLiteral("keydown"), QStringLiteral("space")}));
    QTest::qWait(400);
    QVERIFY(form1.Timer1->isActive());
    QVERIFY(pulse_.Play(QStringLiteral("p1")));
    QTest::qWait(400);
    QVERIFY2(form1.Timer1->isActive(), "the recording ended while Space was still held");
    QVERIFY(Xdotool({QStringLiteral("keyup"), QStringLiteral("space")}));
    QTRY_VERIFY(!form1.Timer1->isActive());

    QVERIFY2(prompt.Messages().isEmpty(), qPrintable(prompt.Messages().join(QLatin1Char('|'))));
    // The whole phrase was taken, not a second or so of it.
    QVERIFY2(form1.enrolment.RecordedCount() >= phraseSamples,
             qPrintable(QStringLiteral("%1 of %2 samples")
                            .arg(form1.enrolment.RecordedCount())
                            .arg(phraseSamples)));
    qInfo("auto-repeated presses while held: %d", counter.repeats);
    QVERIFY(!ui.BitBtn1->isDown());
}

int main(int argc, char** argv) {
    Application application(argc, argv);
    Application::setQuitOnLastWindowClosed(false);
    KeyboardHoldTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "X11Test.moc"
