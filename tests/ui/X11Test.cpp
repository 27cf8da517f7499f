// Record held with the Space key under a real X server with a window manager
// (tests/ui/under-x.sh: Xvfb, openbox, key auto-repeat on), the key pressed and released
// through the X server by xdotool, while a phrase reaches the microphone of the real
// sound stack (a private PulseAudio server, PortAudio). The recording must last as long
// as the key is held, auto-repeat or not, and pass the level checks.
// Skipped, with the reason, where no PulseAudio server can be started.
//
// And the window while a large file is decoded: it repaints, and a screen reader's query
// through the accessibility bus (AT-SPI, asked with gdbus from another thread) is answered
// while the batch still runs. Skipped without a session bus (run under dbus-run-session).

#include <QAccessible>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "audio/PortAudioDevice.h"
#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"
#include "tests/support/CodingWrappers.h"
#include "tests/ui/PrivatePulse.h"
#include "tests/ui/ProgramWindows.h"
#include "tests/ui/ScriptedPrompt.h"
#include "ui/Application.h"
#include "ui/BatchRunner.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
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

// The session bus this program started with (the private sound server's set-up drops it
// from the environment later).
QString& SessionBus() {
    static QString address;
    return address;
}

// What gdbus prints for a call, or an empty text when it fails.
QString Gdbus(const QStringList& arguments) {
    QProcess gdbus;
    gdbus.start(QStringLiteral("gdbus"), QStringList{QStringLiteral("call")} + arguments);
    if (!gdbus.waitForFinished(60000) || gdbus.exitCode() != 0) {
        return {};
    }
    return QString::fromUtf8(gdbus.readAllStandardOutput()).trimmed();
}

// Gdbus from another thread, this one running its event loop meanwhile: a call that this
// program must answer itself.
QString GdbusAside(const QStringList& arguments) {
    std::atomic<bool> done{false};
    QString reply;
    std::thread asker([&] {
        reply = Gdbus(arguments);
        done = true;
    });
    while (!done) {
        QTest::qWait(20);
    }
    asker.join();
    return reply;
}

// Counts the paint events of a widget.
class PaintCounter final : public QObject {
public:
    std::atomic<int> paints{0};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

class KeyboardHoldTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void spaceHeldOnRecordWhileAPhraseIsHeard();
    void windowAnswersWhileDecoding();

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

void KeyboardHoldTest::windowAnswersWhileDecoding() {
    if (SessionBus().isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("gdbus")).isEmpty()) {
        QSKIP("no session bus or no gdbus: run under dbus-run-session");
    }
    // The accessibility bus, and this program on it (the last application registered).
    const QString busReply =
        Gdbus({QStringLiteral("--address"), SessionBus(), QStringLiteral("--dest"),
               QStringLiteral("org.a11y.Bus"), QStringLiteral("--object-path"),
               QStringLiteral("/org/a11y/bus"), QStringLiteral("--method"),
               QStringLiteral("org.a11y.Bus.GetAddress")});
    const QRegularExpressionMatch bus =
        QRegularExpression(QStringLiteral("^\\('([^']+)',\\)$")).match(busReply);
    if (!bus.hasMatch()) {
        QSKIP("no accessibility bus (at-spi2-core)");
    }
    const QString address = bus.captured(1);
    const QStringList onBus{QStringLiteral("--address"), address};
    const QStringList children =
        onBus + QStringList{QStringLiteral("--dest"),
                            QStringLiteral("org.a11y.atspi.Registry"),
                            QStringLiteral("--object-path"),
                            QStringLiteral("/org/a11y/atspi/accessible/root"),
                            QStringLiteral("--method"),
                            QStringLiteral("org.a11y.atspi.Accessible.GetChildren")};
    QString program;
    for (int attempt = 0; attempt < 100 && program.isEmpty(); ++attempt) {
        QRegularExpressionMatchIterator found =
            QRegularExpression(QStringLiteral("'(:[0-9.]+)'")).globalMatch(Gdbus(children));
        while (found.hasNext()) {
            program = found.next().captured(1);
        }
        if (program.isEmpty()) {
            QTest::qWait(100);
        }
    }
    QVERIFY2(!program.isEmpty(), "the program did not register on the accessibility bus");
    const QStringList query =
        onBus + QStringList{QStringLiteral("--dest"),
                            program,
                            QStringLiteral("--object-path"),
                            QStringLiteral("/org/a11y/atspi/accessible/root"),
                            QStringLiteral("--method"),
                            QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                            QStringLiteral("org.a11y.atspi.Accessible"),
                            QStringLiteral("Name")};
    const QString name = GdbusAside(query);
    QVERIFY2(!name.isEmpty(), "the program does not answer on the accessibility bus");

    // A file of 512 MiB encoded for "anna" under a key typed into the key dialog.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString plain = folder.filePath(QStringLiteral("large.bin"));
    const QString encoded = plain + QStringLiteral(".crp");
    {
        QFile file(plain);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray mebibyte(1 << 20, 'q');
        for (int i = 0; i < 512; ++i) {
            QCOMPARE(file.write(mebibyte), mebibyte.size());
        }
    }
    const quorvane::GostKey key{1, 2, 3, 4, 5, 6, 7, 8};
    QCOMPARE(quorvane::EncodeFile(std::filesystem::path(QFile::encodeName(plain).toStdString()),
                                  std::filesystem::path(QFile::encodeName(encoded).toStdString()),
                                  "annacryptedfile", key, quorvane::FileSubstitutionTable),
             1);
    QVERIFY(QFile::remove(plain));

    ScriptedPrompt prompt;
    ProgramWindows windows(prompt, folder.filePath(QStringLiteral("Speakers")).toStdString());
    Ui::TForm1& ui = windows.ui();
    QVERIFY(QTest::qWaitForWindowExposed(windows.form1.get()));
    auto* status = windows.form1->findChild<QLabel*>(QStringLiteral("StatusBar1Panel1"));
    PaintCounter counter;
    status->installEventFilter(&counter);

    // At the first progress of the decoding, another thread asks what a screen reader
    // would; the answer must come before the file's last bytes are done, and the status
    // panel must have been repainted by then.
    std::atomic<bool> decoded{false};
    std::atomic<bool> answeredInWork{false};
    std::atomic<long long> answerMs{-1};
    int paintsAtStart = 0;
    int paintsInWork = -1;
    std::thread asker;
    QObject::connect(ui.Pr1, &QProgressBar::valueChanged, ui.Pr1, [&](int position) {
        if (position > 0 && !asker.joinable()) {
            paintsAtStart = counter.paints.load();
            asker = std::thread([&] {
                const auto start = std::chrono::steady_clock::now();
                const bool answered = Gdbus(query) == name;
                answerMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
                answeredInWork = answered && !decoded.load();
            });
        }
        if (position == BatchRunner::kProgressScale) {
            decoded = true;
            paintsInWork = counter.paints.load() - paintsAtStart;
        }
    });

    prompt.AnswerOpenFiles({encoded});
    windows.Click(ui.Button6);
    windows.Click(ui.RadioGroup3_1);
    prompt.OnShowModal([&key](QDialog& dialog) {
        auto& form = static_cast<TForm4&>(dialog);
        QString lines;
        for (const std::uint32_t word : key) {
            lines += QString::number(static_cast<std::int32_t>(word)) + QStringLiteral("\n");
        }
        form.Memo1->setPlainText(lines);
        form.O->click();
    });
    prompt.OnShowModal([](QDialog& dialog) { static_cast<TForm3&>(dialog).OK->click(); });
    windows.Click(ui.Button7);
    QVERIFY(asker.joinable());
    asker.join();

    QVERIFY2(prompt.Messages().isEmpty(), qPrintable(prompt.Messages().join(QLatin1Char('|'))));
    QCOMPARE(QFileInfo(plain).size(), qint64{512} << 20);
    qInfo("accessibility query answered after %lld ms", answerMs.load());
    QVERIFY2(answeredInWork, "the query was not answered while the file was decoded");
    QVERIFY2(paintsInWork > 0, "the status panel was not repainted while the file was decoded");
}

int main(int argc, char** argv) {
    // Screen readers may ask the window, as under a desktop with accessibility on.
    SessionBus() = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!SessionBus().isEmpty()) {
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    }
    Application application(argc, argv);
    // The accessibility bridge finds its bus through the session bus now, before the sound
    // server's set-up drops that from the environment.
    static_cast<void>(QAccessible::isActive());
    Application::setQuitOnLastWindowClosed(false);
    KeyboardHoldTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "X11Test.moc"
