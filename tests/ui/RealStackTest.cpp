// The program's Study page through the real sound stack: a private PulseAudio server
// (tests/audio/private-pulse.sh) whose default source hears whatever is played into its
// "micfeed" sink, PortAudio, and the main window's press-and-hold Record button. While
// Record is held, a spoken phrase is played into the microphone; the level meter has to
// move, the recording has to pass the level checks, three such recordings enrol a user,
// and a fresh recording of one of the phrases verifies.
// Skipped, with the reason, where no PulseAudio server can be started.

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <memory>

#include "audio/PortAudioDevice.h"
#include "tests/ui/PrivatePulse.h"
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
    void enrolAndVerifyThroughTheMicrophone();

private:
    // Holds Record while `phrase` is played into the microphone; returns the highest
    // level the meter showed.
    int HoldRecordWhilePlaying(Ui::TForm1& ui, const QString& phrase);

    PrivatePulse pulse_{QStringLiteral(QUORVANE_PRIVATE_PULSE)};
    QString skipReason_;
};

void RealStackTest::initTestCase() {
    skipReason_ =
        pulse_.Start({QStringLiteral("My voice is my key, open the files for me."),
                      QStringLiteral("Seven green lanterns shine above the quiet harbour."),
                      QStringLiteral("Please remember the number forty two and the colour blue.")});
}

int RealStackTest::HoldRecordWhilePlaying(Ui::TForm1& ui, const QString& phrase) {
    int highest = 0;
    const QMetaObject::Connection watch =
        connect(ui.Pr1, &QProgressBar::valueChanged, this,
                [&highest](int value) { highest = std::max(highest, value); });
    QTest::mousePress(ui.BitBtn1, Qt::LeftButton);
    QTest::qWait(300);
    pulse_.Play(phrase);
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
    const QString speakers = pulse_.Folder() + QStringLiteral("/Speakers");
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
        QVERIFY2(form1.enrolment.RecordedCount() > 20000,
                 qPrintable(QString::number(form1.enrolment.RecordedCount())));
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

#include "RealStackTest.moc"
