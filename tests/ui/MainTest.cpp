// The main window driven as a person would: through its buttons, with a scripted
// prompt and the scripted sound device, on the offscreen platform.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "audio/SoundBuffer.h"
#include "speaker/Decision.h"
#include "speaker/KeyFile.h"
#include "speaker/ModelFile.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/support/ScriptedDevice.h"
#include "tests/ui/Phrases.h"
#include "tests/ui/ProgramWindows.h"
#include "tests/ui/ScriptedPrompt.h"
#include "ui/Application.h"
#include "ui/DesktopOpener.h"
#include "ui/Encode.h"
#include "ui/HtmlHandler.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui/WidgetPrompt.h"
#include "ui_Main.h"
#include "ui_Secparam.h"
#include "workflow/Figures.h"

using Samples = std::vector<std::int16_t>;
using Kind = ScriptedPrompt::Kind;

namespace {

const QColor kGreen(0x00, 0x80, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);

std::filesystem::path ToPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

Samples Speak(const QString& folder, const QString& name, const QString& text) {
    return SpeakPhrase(folder, name, text);
}

// `count` samples alternating +value and -value.
Samples Square(std::size_t count, std::int16_t value) {
    Samples samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = (i % 2 == 0) ? value : static_cast<std::int16_t>(-value);
    }
    return samples;
}

// The four windows with the scripted device, and the steps these tests repeat.
struct Session : ProgramWindows {
    using ProgramWindows::ProgramWindows;

    void SetName(const QString& name) const { ui().ComboBox1->setEditText(name); }
    QStringList Items(QComboBox* box) const {
        QStringList items;
        for (int i = 0; i < box->count(); ++i) {
            items << box->itemText(i);
        }
        return items;
    }
};

// A pointer move over `widget`, at its centre unless a point is given.
void SendMouseMove(QWidget* widget, QPointF at = QPointF(-1, -1)) {
    if (at.x() < 0) {
        at = QPointF(widget->width() / 2.0, widget->height() / 2.0);
    }
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

QColor TextColour(const QLabel* label) {
    return label->palette().color(QPalette::WindowText);
}

// A desktop of its own for one test: the XDG base folders in a scratch folder, so that the
// machine's own applications and lists do not count, with the MIME lists and desktop entries
// a test writes into them, and PATH its folder "bin", which holds the programs the entries
// name (they do nothing) and those a test adds. The variables are put back afterwards.
class FakeDesktop {
public:
    explicit FakeDesktop(const QString& root, const QByteArray& currentDesktop = {}) : root_(root) {
        QDir().mkpath(root_);
        Set("XDG_CONFIG_HOME", root_ + QStringLiteral("/config"));
        Set("XDG_CONFIG_DIRS", root_ + QStringLiteral("/etc"));
        Set("XDG_DATA_HOME", root_ + QStringLiteral("/data"));
        Set("XDG_DATA_DIRS", root_ + QStringLiteral("/usr"));
        Set("XDG_CURRENT_DESKTOP", QString::fromLatin1(currentDesktop));
        Set("PATH", root_ + QStringLiteral("/bin"));
        for (const char* name : {"browser", "vim", "nano", "x-terminal-emulator", "sh"}) {
            Program(QString::fromLatin1(name), "#!/bin/sh\nexit 0\n");
        }
    }
    ~FakeDesktop() {
        for (const auto& [name, value] : saved_) {
            value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
        }
    }
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    // Writes `text` into `relative` under the root, making its folders; "@ROOT@" in the text
    // stands for the root.
    void Write(const QString& relative, QByteArray text) const {
        const QString path = QDir(root_).filePath(relative);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(text.replace("@ROOT@", QFile::encodeName(root_)));
        }
    }
    // An executable `name` in the folder of PATH, running `script`.
    void Program(const QString& name, const QByteArray& script) const {
        const QString relative = QStringLiteral("bin/") + name;
        Write(relative, script);
        QFile::setPermissions(Path(relative),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    [[nodiscard]] QString Path(const QString& relative) const {
        return QDir(root_).filePath(relative);
    }

private:
    void Set(const char* name, const QString& value) {
        saved_.emplace_back(name, qEnvironmentVariableIsSet(name)
                                      ? std::optional<QByteArray>(qgetenv(name))
                                      : std::nullopt);
        value.isEmpty() ? qunsetenv(name) : qputenv(name, value.toUtf8());
    }

    QString root_;
    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> saved_;
};

// Desktop entries of a browser, a terminal editor and their kin, and a list that makes one
// of them the handler of HTML.
const QByteArray kBrowserEntry =
    "[Desktop Entry]\nType=Application\nName=Browser\nExec=env GDK_BACKEND=x11 browser %u\n";
const QByteArray kVimEntry =
    "[Desktop Entry]\nType=Application\nName=Vim\nExec=vim %F\n"
    "Terminal=true\n";
const QByteArray kEditorEntry = "[Desktop Entry]\nType=Application\nExec=@ROOT@/bin/nano %F\n";
const QByteArray kTerminalEntry =
    "[Desktop Entry]\nType=Application\nExec=x-terminal-emulator -e vim %f\nTerminal=false\n";
QByteArray Defaults(const QByteArray& applications) {
    return "[Added Associations]\ntext/plain=other.desktop;\n\n[Default Applications]\n"
           "text/plain=other.desktop\ntext/html=" +
           applications + "\n";
}

}  // namespace

class MainWindowTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void startsAsDesigned();
    void refusalsWithoutEnrolment();
    void levelChecksAndTheirWarnings();
    void noInputDevice();
    void otherMouseButtons();
    void hoverHints();
    void levelMeterFollowsTheClock();
    void tooFewFeatureVectors();
    void enrolVerifyAddRestartRemove();
    void namesBeyondAscii();
    void speakerFileThatCannotBeWritten();
    void protectionThroughThePassphraseBox();
    void htmlHandlerOfTheDesktop();
    void desktopOpenerTellsItsFailure();
    void helpAndAboutLinks();
    void exceptionBox();
    void widgetPromptShowsRealBoxes();
    void closingFreesTheState();

private:
    QTemporaryDir scratch_;
    Samples phrase1_;
    Samples phrase2_;
    Samples phrase3_;
    std::filesystem::path NewSpeakersFolder(const QString& name) {
        const QString folder = scratch_.filePath(name);
        QDir().mkpath(folder);
        return ToPath(folder);
    }
};

void MainWindowTest::initTestCase() {
    QVERIFY(scratch_.isValid());
    phrase1_ = Speak(scratch_.path(), QStringLiteral("p1"),
                     QStringLiteral("My voice is my key, open the files for me."));
    phrase2_ = Speak(scratch_.path(), QStringLiteral("p2"),
                     QStringLiteral("Seven green lanterns shine above the quiet harbour."));
    phrase3_ = Speak(scratch_.path(), QStringLiteral("p3"),
                     QStringLiteral("Please remember the number forty two and the colour blue."));
    QVERIFY2(phrase1_.size() > 20000 && phrase2_.size() > 20000 && phrase3_.size() > 20000,
             "espeak-ng and sox must be installed");
}

void MainWindowTest::startsAsDesigned() {
    ScriptedPrompt prompt;
    const Session s(prompt, NewSpeakersFolder(QStringLiteral("start")));
    Ui::TForm1& ui = s.ui();
    QCOMPARE(s.form1->windowTitle(), QStringLiteral("Quorvane 1.1"));
    QCOMPARE(ui.PageControl1->count(), 4);
    QCOMPARE(ui.PageControl1->tabText(0), QStringLiteral("Study"));
    QCOMPARE(ui.PageControl1->tabText(1), QStringLiteral("Encode"));
    QCOMPARE(ui.PageControl1->tabText(2), QStringLiteral("Decode"));
    QCOMPARE(ui.PageControl1->tabText(3), QStringLiteral("About"));
    QCOMPARE(ui.PageControl1->currentIndex(), 0);
    QCOMPARE(ui.BitBtn1->text(), QStringLiteral("Record"));
    QCOMPARE(ui.BitBtn2->text(), QStringLiteral("Play"));
    QCOMPARE(ui.BitBtn3->text(), QStringLiteral("Help"));
    QCOMPARE(ui.Button1->text(), QStringLiteral("Add phrase"));
    QCOMPARE(ui.Button4->text(), QStringLiteral("Train system..."));
    QCOMPARE(ui.Verifikate->text(), QStringLiteral("Verify"));
    QCOMPARE(ui.Button2->text(), QStringLiteral("Add new user..."));
    QCOMPARE(ui.Button3->text(), QStringLiteral("Remove user..."));
    QCOMPARE(ui.Button5->text(), QStringLiteral("Open file(s) for encoding..."));
    QCOMPARE(ui.Button6->text(), QStringLiteral("Open file(s) to decode..."));
    QCOMPARE(ui.Label5->text(), QStringLiteral("Voice key cryptographer Quorvane 1.1"));
    QCOMPARE(ui.Label10->text(), QStringLiteral("Please, visit:"));
    QVERIFY(!ui.Image3->pixmap().isNull());
    QCOMPARE(s.form1->RadioGroup1ItemIndex(), 0);
    QCOMPARE(s.form1->RadioGroup3ItemIndex(), 0);
    QVERIFY(!ui.ComboBox3->isEnabled());
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result"));
    QCOMPARE(TextColour(ui.Label4), kGreen);
    QVERIFY(ui.Label2->text().isEmpty());
    for (int slot = 0; slot < 3; ++slot) {
        QVERIFY(!s.form1->PhraseIndicatorGreen(slot));
    }
    QVERIFY(s.form1->Timer1 != nullptr);
    QVERIFY(!s.form1->Timer1->isActive());
    QCOMPARE(s.form1->Timer1->interval(), 200);
    QCOMPARE(s.form1->enrolment.Threshold(), -1.0f);
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    QCOMPARE(s.form1->enrolment.RecordedSamples().size(), std::size_t{330750});
    QVERIFY(!s.form1->enrolment.PhraseAdded());
    QVERIFY(s.form1->users.List().empty());
    QCOMPARE(ui.ComboBox1->count(), 0);
    QCOMPARE(ui.ComboBox2->count(), 0);
    QCOMPARE(ui.ComboBox3->count(), 0);
    QVERIFY(s.form1->StatusText().isEmpty());
    QVERIFY(prompt.entries.empty());

    // The security level dialog: Low, with its description, at every start.
    TForm2& form2 = *s.form2;
    QCOMPARE(form2.windowTitle(), QStringLiteral("Security parameters"));
    QCOMPARE(form2.ItemIndex(), 2);
    QCOMPARE(form2.ui->Label1->text(), QStringLiteral("This security level provides"));
    QCOMPARE(form2.ui->Label2->text(), QStringLiteral("the biggest False acceptance rate (FAR)"));
    QCOMPARE(form2.ui->Label3->text(), QStringLiteral("and low False reject rate (FRR)"));
    form2.SetItemIndex(0);
    QCOMPARE(form2.ui->Label2->text(), QStringLiteral("the lowest False acceptance rate (FAR)"));
    QCOMPARE(form2.ui->Label3->text(), QStringLiteral("and the biggest False reject rate (FRR)"));
    form2.SetItemIndex(1);
    QCOMPARE(form2.ui->Label2->text(), QStringLiteral("medium False acceptance rate (FAR)"));
    QCOMPARE(form2.ui->Label3->text(), QStringLiteral("and medium False reject rate (FRR)"));

    // A missing Speakers folder is no error: no users, no message.
    ScriptedPrompt quiet;
    const Session missing(quiet, ToPath(scratch_.filePath(QStringLiteral("no-such-folder"))));
    QVERIFY(missing.form1->users.List().empty());
    QVERIFY(quiet.entries.empty());
}

void MainWindowTest::refusalsWithoutEnrolment() {
    ScriptedPrompt prompt;
    const Session s(prompt, NewSpeakersFolder(QStringLiteral("refusals")));
    s.Click(s.ui().Button1);
    s.Click(s.ui().Button4);
    s.Click(s.ui().Verifikate);
    s.SetName(QStringLiteral("anna"));
    s.Click(s.ui().Button2);
    s.Click(s.ui().Button3);
    QCOMPARE(prompt.Messages(), (QStringList{
                                    QStringLiteral("Please record phrase first!"),
                                    QStringLiteral("Please add 1 phrase"),
                                    QStringLiteral("You should perform training first"),
                                    QStringLiteral("You should perform training first!"),
                                    QStringLiteral("There are no registered users"),
                                }));
    // All simple message boxes; the security dialog was never shown.
    QCOMPARE(prompt.Of(Kind::Message).size(), std::size_t{5});
    QVERIFY(prompt.Of(Kind::ShowModal).empty());
    QCOMPARE(s.form1->enrolment.Threshold(), -1.0f);
}

void MainWindowTest::levelChecksAndTheirWarnings() {
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("levels")));

    // An accepted recording: the samples after the first 400.
    s.Record(phrase1_);
    QVERIFY2(prompt.entries.empty(), qPrintable(prompt.Messages().join(QLatin1Char('|'))));
    const auto kept = static_cast<std::int32_t>(phrase1_.size()) - 400;
    QCOMPARE(s.form1->enrolment.RecordedCount(), kept);
    QVERIFY(std::equal(phrase1_.begin() + 400, phrase1_.end(),
                       s.form1->enrolment.RecordedSamples().begin()));
    QCOMPARE(s.ui().Pr1->value(), 0);
    QVERIFY(!s.form1->Timer1->isActive());

    // Too quiet: the phrase at a twentieth of its loudness (peak about 1160).
    Samples quiet = phrase1_;
    for (std::int16_t& v : quiet) {
        v = static_cast<std::int16_t>(v / 20);
    }
    s.Record(quiet);
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    // Clipped: 10 % of 20000 samples at full scale, the rest loud but clean.
    Samples clipped = Square(20400, 12000);
    for (std::size_t i = 400; i < clipped.size(); i += 10) {
        clipped[i] = 32767;
    }
    s.Record(clipped);
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    // Both: 300 clipped samples in 2000, so also fewer than 5513 loud ones.
    Samples both(2400, 0);
    for (std::size_t i = 400; i < 700; ++i) {
        both[i] = -32768;
    }
    s.Record(both);
    // 400 samples or fewer: nothing recorded.
    s.Record(Square(400, 9000));
    // A refused recording counts as none.
    s.Click(s.ui().Button1);

    QCOMPARE(prompt.Messages(),
             (QStringList{
                 QStringLiteral("Signal level is too low, please repeat recording"),
                 QStringLiteral("Signal level is too high, please repeat recording"),
                 QStringLiteral("Signal level is too high, please repeat recording"),
                 QStringLiteral("Signal level is too low, please repeat recording"),
                 QStringLiteral("The sound was not recorded"),
                 QStringLiteral("Please record phrase first!"),
             }));
    for (const ScriptedPrompt::Entry& box : prompt.Of(Kind::Box)) {
        QCOMPARE(box.caption, QStringLiteral("Warning"));
        QVERIFY(box.icon == Prompt::Icon::Warning);
    }
    QCOMPARE(prompt.Of(Kind::Box).size(), std::size_t{4});
    QCOMPARE(prompt.Of(Kind::Message).size(), std::size_t{2});

    // Exactly 5 % clipped is still accepted (1000 of 20000), with enough loud samples.
    prompt.ClearShown();
    Samples edge = Square(20400, 12000);
    for (std::size_t i = 400; i < 1400; ++i) {
        edge[i] = 32001;
    }
    s.Record(edge);
    QVERIFY(prompt.entries.empty());
    QCOMPARE(s.form1->enrolment.RecordedCount(), 20000);
    QVERIFY(!s.form1->enrolment.PhraseAdded());

    // A hold of more than 30 seconds keeps the first 30 seconds after the dropped start.
    Samples longHold = Square(400 + 330750 + 5000, 9000);
    longHold[400] = 1234;
    longHold[400 + 330749] = 4321;
    s.Record(longHold);
    QVERIFY(prompt.entries.empty());
    QCOMPARE(s.form1->enrolment.RecordedCount(), 330750);
    QCOMPARE(s.form1->enrolment.RecordedSamples().front(), std::int16_t{1234});
    QCOMPARE(s.form1->enrolment.RecordedSamples().back(), std::int16_t{4321});

    // Play after a refused recording plays that recording, then the silence of the
    // cleared buffer.
    s.Record(quiet);
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    s.device->ClearPlayed();
    QTest::mousePress(s.ui().BitBtn2, Qt::LeftButton);
    QTest::mouseRelease(s.ui().BitBtn2, Qt::LeftButton);
    const Samples played = s.device->Played();
    QVERIFY(played.size() >= quiet.size() + 1000);
    QVERIFY(std::equal(quiet.begin(), quiet.end(), played.begin()));
    QVERIFY(std::all_of(played.begin() + static_cast<std::ptrdiff_t>(quiet.size()),
                        played.begin() + static_cast<std::ptrdiff_t>(quiet.size()) + 1000,
                        [](std::int16_t v) { return v == 0; }));
}

void MainWindowTest::noInputDevice() {
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("nodevice")));
    s.device->RemoveInputDevice();
    s.device->SetCapture(phrase1_, quorvane::ScriptedDevice::Pace::Instant);
    QTest::mousePress(s.ui().BitBtn1, Qt::LeftButton);
    // Still held: only the release ends the recording.
    QVERIFY(s.form1->Timer1->isActive());
    QTest::mouseRelease(s.ui().BitBtn1, Qt::LeftButton);
    QCOMPARE(prompt.Messages(), (QStringList{
                                    QStringLiteral("No open wave In-device!"),
                                    QStringLiteral("No prepared header wave In-device!"),
                                    QStringLiteral("No record wave In-device!"),
                                    QStringLiteral("No record wave In-device!"),
                                    QStringLiteral("The sound was not recorded"),
                                }));
    const std::vector<ScriptedPrompt::Entry> boxes = prompt.Of(Kind::Box);
    QCOMPARE(boxes.size(), std::size_t{4});
    for (const ScriptedPrompt::Entry& box : boxes) {
        QCOMPARE(box.caption, QStringLiteral("Record Error"));
        QVERIFY(box.icon == Prompt::Icon::Warning);
    }
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    QVERIFY(!s.form1->Timer1->isActive());

    // A press whose release went to the warning boxes (the button is no longer held
    // when they close) ends at once instead of leaving the recording running.
    prompt.ClearShown();
    QVERIFY(!(QGuiApplication::mouseButtons() & Qt::LeftButton));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 3),
                      s.ui().BitBtn1->mapToGlobal(QPointF(3, 3)), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(s.ui().BitBtn1, &press);
    QVERIFY(!s.form1->Timer1->isActive());
    QVERIFY(!s.ui().BitBtn1->isDown());  // not left waiting for that release
    QCOMPARE(prompt.Messages().size(), qsizetype{5});
    QCOMPARE(prompt.Messages().last(), QStringLiteral("The sound was not recorded"));
    // Playing without an output device: the boxes, and no playback left running.
    prompt.ClearShown();
    s.device->RemoveOutputDevice();
    s.form1->BitBtn2MouseDown(Qt::LeftButton);
    QVERIFY(!s.form1->Timer1->isActive());
    QVERIFY(!prompt.Messages().isEmpty());
    for (const ScriptedPrompt::Entry& box : prompt.Of(Kind::Box)) {
        QCOMPARE(box.caption, QStringLiteral("Play Error"));
    }
}

void MainWindowTest::otherMouseButtons() {
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("buttons")));
    s.Record(phrase2_);
    const std::int32_t count = s.form1->enrolment.RecordedCount();
    QVERIFY(count > 0);
    s.device->ClearCalls();
    s.ui().Label2->setText(QStringLiteral("Your result: Negative"));
    s.ui().Label4->setText(QStringLiteral("Result: Negative"));
    s.form1->SetStatusText(QStringLiteral("before"));

    // Right button on Record: the result fields reset, nothing recorded.
    QTest::mousePress(s.ui().BitBtn1, Qt::RightButton);
    QTest::mouseRelease(s.ui().BitBtn1, Qt::RightButton);
    QVERIFY(s.ui().Label2->text().isEmpty());
    QCOMPARE(s.ui().Label4->text(), QStringLiteral("Result"));
    QCOMPARE(TextColour(s.ui().Label4), kGreen);
    QVERIFY(s.device->Calls().empty());
    QCOMPARE(s.form1->enrolment.RecordedCount(), count);
    QVERIFY(!s.form1->Timer1->isActive());
    QCOMPARE(s.form1->StatusText(), QStringLiteral("before"));

    // Right and middle button on Play: nothing at all.
    QTest::mousePress(s.ui().BitBtn2, Qt::RightButton);
    QTest::mouseRelease(s.ui().BitBtn2, Qt::RightButton);
    QTest::mousePress(s.ui().BitBtn2, Qt::MiddleButton);
    QTest::mouseRelease(s.ui().BitBtn2, Qt::MiddleButton);
    QVERIFY(s.device->Calls().empty());
    QCOMPARE(s.form1->StatusText(), QStringLiteral("before"));

    // A right click during a recording does not end it; the left release does.
    s.device->SetCapture(phrase2_, quorvane::ScriptedDevice::Pace::Instant);
    QTest::mousePress(s.ui().BitBtn1, Qt::LeftButton);
    QVERIFY(s.form1->Timer1->isActive());
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    QMouseEvent rightRelease(QEvent::MouseButtonRelease, QPointF(2, 2),
                             s.ui().BitBtn1->mapToGlobal(QPointF(2, 2)), Qt::RightButton,
                             Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(s.ui().BitBtn1, &rightRelease);
    QVERIFY(s.form1->Timer1->isActive());
    QTest::mouseRelease(s.ui().BitBtn1, Qt::LeftButton);
    QVERIFY(!s.form1->Timer1->isActive());
    QCOMPARE(s.form1->enrolment.RecordedCount(), count);
    QVERIFY(prompt.entries.empty());
}

void MainWindowTest::hoverHints() {
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("hover")));
    SendMouseMove(s.ui().BitBtn1);
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Press and hold to record sound"));
    SendMouseMove(s.ui().BitBtn2);
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Press and hold to play recorded sound"));
    // The window's own surface (the margin around the pages) clears the hint.
    SendMouseMove(s.ui().centralwidget, QPointF(1, 1));
    QCOMPARE(s.form1->StatusText(), QString());
    // A move a child control passes on to the surface does not.
    SendMouseMove(s.ui().BitBtn1);
    const QPoint onButton = s.ui().BitBtn1->mapTo(s.ui().centralwidget, QPoint(3, 3));
    SendMouseMove(s.ui().centralwidget, onButton);
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Press and hold to record sound"));
    SendMouseMove(s.ui().centralwidget, QPointF(1, 1));

    s.device->SetCapture(phrase1_, quorvane::ScriptedDevice::Pace::Instant);
    QTest::mousePress(s.ui().BitBtn1, Qt::LeftButton);
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Release button to stop recording"));
    SendMouseMove(s.ui().BitBtn1);
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Press and hold to record sound"));
    QTest::mouseRelease(s.ui().BitBtn1, Qt::LeftButton);
    // The release leaves the text as it is.
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Press and hold to record sound"));

    QTest::mousePress(s.ui().BitBtn2, Qt::LeftButton);
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Release button to stop playing"));
    QTest::mouseRelease(s.ui().BitBtn2, Qt::LeftButton);
    QCOMPARE(s.form1->StatusText(), QStringLiteral("Release button to stop playing"));
}

void MainWindowTest::levelMeterFollowsTheClock() {
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("meter")));
    // 200 ms at half scale, then 200 ms at a quarter (2205 samples each).
    Samples capture = Square(2205, 16384);
    const Samples quarter = Square(2205, 8192);
    capture.insert(capture.end(), quarter.begin(), quarter.end());
    s.device->SetCapture(capture, quorvane::ScriptedDevice::Pace::Manual);
    QTest::mousePress(s.ui().BitBtn1, Qt::LeftButton);
    QVERIFY(s.form1->Timer1->isActive());
    QCOMPARE(s.ui().Pr1->minimum(), 0);
    QCOMPARE(s.ui().Pr1->maximum(), 100);
    s.device->Advance(2205);
    s.form1->Timer1Timer();
    QCOMPARE(s.form1->elapsedMs, 200);
    QCOMPARE(s.ui().Pr1->value(), 50);  // 16384 * 100 / 32768
    // The clock is ahead of the device: the window not yet captured reads as silence.
    s.form1->Timer1Timer();
    QCOMPARE(s.ui().Pr1->value(), 0);
    QCOMPARE(s.form1->elapsedMs, 400);
    s.device->Advance(2205);
    QTest::mouseRelease(s.ui().BitBtn1, Qt::LeftButton);
    QCOMPARE(s.ui().Pr1->value(), 0);
    QCOMPARE(s.form1->elapsedMs, 0);
    QVERIFY(!s.form1->Timer1->isActive());
    // 4010 loud samples are fewer than half a second's worth.
    QCOMPARE(prompt.Messages(),
             QStringList{QStringLiteral("Signal level is too low, please repeat recording")});

    // Playing reads the buffer by the clock: 50, then 25, then the cleared rest.
    s.device->SetPace(quorvane::ScriptedDevice::Pace::Manual);
    QTest::mousePress(s.ui().BitBtn2, Qt::LeftButton);
    QVERIFY(s.form1->Timer1->isActive());
    s.form1->Timer1Timer();
    QCOMPARE(s.ui().Pr1->value(), 50);
    s.form1->Timer1Timer();
    QCOMPARE(s.ui().Pr1->value(), 25);
    s.form1->Timer1Timer();
    QCOMPARE(s.ui().Pr1->value(), 0);
    QTest::mouseRelease(s.ui().BitBtn2, Qt::LeftButton);
    QVERIFY(!s.form1->Timer1->isActive());
    QCOMPARE(s.form1->elapsedMs, 0);
    const std::vector<std::string> calls = s.device->Calls();
    QVERIFY(std::find(calls.begin(), calls.end(), "WriteOutput") != calls.end());
    QCOMPARE(calls.back(), std::string("CloseOutput"));

    // A hold beyond the 50-second buffer keeps the meter inside it.
    QTest::mousePress(s.ui().BitBtn2, Qt::LeftButton);
    s.form1->elapsedMs = 50000;
    s.form1->Timer1Timer();
    QCOMPARE(s.ui().Pr1->value(), 0);
    QTest::mouseRelease(s.ui().BitBtn2, Qt::LeftButton);
}

void MainWindowTest::tooFewFeatureVectors() {
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("fewvectors")));
    // Half a second of loud, clean sound: accepted, but far too short for 100 vectors.
    s.Record(Square(6400, 10000));
    QCOMPARE(s.form1->enrolment.RecordedCount(), 6000);
    s.Click(s.ui().Button1);
    QCOMPARE(prompt.Messages(),
             QStringList{QStringLiteral("Too little feature vectors, please repeat recording")});
    QVERIFY(!s.form1->enrolment.PhraseCodebooks()[0].Trained());
    QVERIFY(!s.form1->PhraseIndicatorGreen(0));
    QVERIFY(!s.form1->enrolment.PhraseAdded());

    // A slot that held a phrase is emptied, yet its indicator stays green; training
    // then names it.
    s.Record(phrase1_);
    s.Click(s.ui().Button1);
    QVERIFY(s.form1->enrolment.PhraseCodebooks()[0].Trained());
    // The selection moved on to the next empty slot; go back to the first.
    QCOMPARE(s.form1->RadioGroup1ItemIndex(), 1);
    s.Click(s.ui().RadioGroup1_0);
    s.Record(Square(6400, 10000));
    s.Click(s.ui().Button1);
    QVERIFY(!s.form1->enrolment.PhraseCodebooks()[0].Trained());
    QVERIFY(s.form1->PhraseIndicatorGreen(0));
    s.Click(s.ui().Button4);
    QCOMPARE(prompt.Messages(),
             (QStringList{QStringLiteral("Too little feature vectors, please repeat recording"),
                          QStringLiteral("Too little feature vectors, please repeat recording"),
                          QStringLiteral("Please add 1 phrase")}));
}

void MainWindowTest::enrolVerifyAddRestartRemove() {
    ScriptedPrompt prompt;
    const std::filesystem::path speakers = NewSpeakersFolder(QStringLiteral("enrol"));
    std::filesystem::path keyFile = ToPath(scratch_.filePath(QStringLiteral("anna_key.txt")));
    float threshold = 0.0f;
    {
        Session s(prompt, speakers);
        Ui::TForm1& ui = s.ui();
        // Phrase 1 into slot 1, phrase 2 into slot 3.
        s.Record(phrase1_);
        s.Click(ui.Button1);
        QVERIFY(s.form1->PhraseIndicatorGreen(0));
        QVERIFY(s.form1->enrolment.PhraseAdded());
        s.Click(ui.RadioGroup1_2);
        s.Click(ui.Button1);  // the same recording again, another slot
        s.Record(phrase2_);
        s.Click(ui.Button1);
        QVERIFY(s.form1->PhraseIndicatorGreen(2));
        QVERIFY(!s.form1->PhraseIndicatorGreen(1));
        s.Click(ui.Button4);  // slot 2 is still empty
        s.Record(phrase3_);
        s.Click(ui.RadioGroup1_1);
        s.Click(ui.Button1);
        QVERIFY(s.form1->PhraseIndicatorGreen(1));
        QCOMPARE(prompt.Messages(),
                 (QStringList{QStringLiteral("This phrase was added, please record new phrase!"),
                              QStringLiteral("Please add 2 phrase")}));
        prompt.ClearShown();
        // Until the enrolment is trained the page says the order of the steps.
        QVERIFY(ui.StudyHint->isVisible());
        QCOMPARE(ui.StudyHint->text(),
                 QStringLiteral("To register: record a phrase and Add phrase, three times; then "
                                "Train system...; then enter a name and Add new user..."));

        // Train, choosing High in the dialog.
        bool shownWithLow = false;
        prompt.OnShowModal([&](QDialog& dialog) {
            auto& form2 = static_cast<TForm2&>(dialog);
            shownWithLow = form2.isVisible() && form2.ItemIndex() == 2;
            QTest::mouseClick(form2.ui->RadioGroup1_0, Qt::LeftButton);
            QTest::mouseClick(form2.ui->Button1, Qt::LeftButton);
        });
        s.Click(ui.Button4);
        QVERIFY(shownWithLow);
        QVERIFY(!s.form2->isVisible());
        QCOMPARE(s.form2->ItemIndex(), 0);
        const auto& books = s.form1->enrolment.PhraseCodebooks();
        const float d01 = quorvane::CodebookDistance(books[0], books[1]);
        const float d02 = quorvane::CodebookDistance(books[0], books[2]);
        const float d12 = quorvane::CodebookDistance(books[1], books[2]);
        threshold = s.form1->enrolment.Threshold();
        QVERIFY(threshold == std::min({d01, d02, d12}));
        QVERIFY(threshold > 0.0f);
        QVERIFY(s.form1->StatusText().startsWith(QStringLiteral("Threshold: ")));
        QVERIFY(!ui.StudyHint->isVisible());
        // Up to 15 significant digits give the float back exactly.
        QVERIFY(s.form1->StatusText().mid(11).toFloat() == threshold);

        // Training again without touching the dialog keeps the level.
        s.Click(ui.Button4);
        QVERIFY(s.form1->enrolment.Threshold() == threshold);
        QCOMPARE(prompt.Of(Kind::ShowModal).size(), std::size_t{2});
        QCOMPARE(prompt.Of(Kind::ShowModal)[0].text, QStringLiteral("TForm2"));

        // Verify: before a new recording (the phrase is still there) and after one.
        s.Record(phrase3_);
        s.Click(ui.Verifikate);
        QCOMPARE(ui.Label2->text(), QStringLiteral("Your result: Positive"));
        QCOMPARE(TextColour(ui.Label2), kGreen);
        QCOMPARE(ui.Label2->accessibleName(), QStringLiteral("Verification result"));
        QCOMPARE(ui.Label2->accessibleDescription(), QStringLiteral("Your result: Positive"));
        QCOMPARE(s.form1->StatusText(), QStringLiteral("Threshold: ") +
                                            QString::fromStdString(quorvane::FixedText(threshold)) +
                                            QStringLiteral("  Distance:0.0000"));
        // Verification neither adds nor marks the recording.
        QVERIFY(!s.form1->enrolment.PhraseAdded());

        // Names that are refused.
        prompt.ClearShown();
        for (const QString& name :
             {QString(), QStringLiteral("an na"), QStringLiteral("a/b"), QStringLiteral("who?"),
              QStringLiteral("say\"hi\""), QStringLiteral("c:d")}) {
            s.SetName(name);
            s.Click(ui.Button2);
        }
        const QString symbols = QStringLiteral(
            "You can not use symbols: \\ / : * ? \" < > | and \"Space\" symbols in the name");
        QCOMPARE(prompt.Messages(), (QStringList{QStringLiteral("Enter your name!"), symbols,
                                                 symbols, symbols, symbols, symbols}));
        QVERIFY(std::filesystem::is_empty(speakers));

        // Add anna, unprotected, and save her key.
        prompt.ClearShown();
        s.SetName(QStringLiteral("anna"));
        prompt.AnswerQuestion(false);
        prompt.AnswerQuestion(true);
        prompt.AnswerSaveFile(QFile::decodeName(keyFile.string().c_str()));
        s.Click(ui.Button2);
        QVERIFY(std::filesystem::is_regular_file(speakers / "anna.spk"));
        QVERIFY(!std::filesystem::exists(speakers / "anna.qvlock"));
        std::vector<ScriptedPrompt::Entry> questions = prompt.Of(Kind::Question);
        QCOMPARE(questions.size(), std::size_t{2});
        QCOMPARE(questions[0].caption, QStringLiteral("Add new user"));
        QCOMPARE(questions[0].text,
                 QStringLiteral("Protect anna's voice model with a passphrase?"));
        questions.erase(questions.begin());
        QCOMPARE(questions[0].caption, QStringLiteral("Security key generation"));
        QCOMPARE(questions[0].text, QStringLiteral("If you want program can save security key.\n"
                                                   "This security key can be used if something\n"
                                                   "happend with your voice. You will be able\n"
                                                   "to decode your files using this key.\n"
                                                   "Do you want to save it?"));
        QVERIFY(questions[0].icon == Prompt::Icon::Question);
        const std::vector<ScriptedPrompt::Entry> saves = prompt.Of(Kind::SaveFile);
        QCOMPARE(saves.size(), std::size_t{1});
        QCOMPARE(saves[0].options.title, QStringLiteral("Saving security key"));
        QCOMPARE(saves[0].options.defaultName, QStringLiteral("anna_key.txt"));
        QVERIFY(saves[0].options.filter.contains(QStringLiteral("*.txt")));
        // The key belongs with the user's documents (or home), never in the program's folder.
        const QString start = saves[0].options.directory;
        QVERIFY(start == QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) ||
                start == QDir::homePath());
        QVERIFY(QDir(start) != QDir(QCoreApplication::applicationDirPath()));
        QCOMPARE(prompt.Messages().size(), qsizetype{2});  // only the questions
        QCOMPARE(s.Items(ui.ComboBox1), QStringList{QStringLiteral("anna")});
        QCOMPARE(s.Items(ui.ComboBox2), QStringList{QStringLiteral("anna")});
        QCOMPARE(s.Items(ui.ComboBox3), QStringList{QStringLiteral("anna")});
        QCOMPARE(ui.ComboBox1->currentText(), QStringLiteral("anna"));

        // The same name again; then "Anna", a different user, without a key file.
        prompt.ClearShown();
        s.Click(ui.Button2);
        s.SetName(QStringLiteral("Anna"));
        prompt.AnswerQuestion(false);
        s.Click(ui.Button2);
        QCOMPARE(
            prompt.Messages(),
            (QStringList{
                QStringLiteral("User with such name already exists. Please select different name!"),
                QStringLiteral("Protect Anna's voice model with a passphrase?"),
                QStringLiteral("If you want program can save security key.\n"
                               "This security key can be used if something\n"
                               "happend with your voice. You will be able\n"
                               "to decode your files using this key.\n"
                               "Do you want to save it?")}));
        QVERIFY(prompt.Of(Kind::SaveFile).empty());

        // A key file that cannot be written is reported; the user stays added.
        prompt.ClearShown();
        const QString unwritable = scratch_.filePath(QStringLiteral("no-such-folder/bob_key.txt"));
        s.SetName(QStringLiteral("bob"));
        prompt.AnswerQuestion(false);
        prompt.AnswerQuestion(true);
        prompt.AnswerSaveFile(unwritable);
        s.Click(ui.Button2);
        QCOMPARE(prompt.Messages().size(), qsizetype{3});
        QCOMPARE(prompt.Messages()[2],
                 QStringLiteral("Unable to save security key file: ") + unwritable +
                     QLatin1Char('\n') +
                     QString::fromStdString(
                         std::make_error_code(std::errc::no_such_file_or_directory).message()));
        QVERIFY(s.form1->users.List().Find("bob") != nullptr);
        QVERIFY(s.Items(ui.ComboBox3).contains(QStringLiteral("bob")));
        prompt.AnswerQuestion(true);
        s.Click(ui.Button3);
        QVERIFY(!std::filesystem::exists(speakers / "bob.spk"));
        QCOMPARE(s.Items(ui.ComboBox2),
                 (QStringList{QStringLiteral("anna"), QStringLiteral("Anna")}));
        QVERIFY(s.form1->enrolment.Threshold() == threshold);  // the enrolment stays
    }

    // The key file: name, heading, eight signed decimal words, one per line.
    QFile key(QFile::decodeName(keyFile.string().c_str()));
    QVERIFY(key.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(key.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), qsizetype{11});  // ten lines, each ended
    QCOMPARE(lines[0], QStringLiteral("Users name: anna"));
    QCOMPARE(lines[1], QStringLiteral("Your key:"));
    QVERIFY(lines[10].isEmpty());
    quorvane::UserKey saved{};
    for (int i = 0; i < 8; ++i) {
        bool ok = false;
        const int word = lines[2 + i].toInt(&ok);
        QVERIFY2(ok, qPrintable(lines[2 + i]));
        QCOMPARE(QString::number(word), lines[2 + i]);  // no padding, no plus sign
        saved[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(word);
    }

    // Restart: both users come back, in file-name byte order, in all three boxes.
    prompt.ClearShown();
    {
        Session s(prompt, speakers);
        Ui::TForm1& ui = s.ui();
        QVERIFY(prompt.entries.empty());
        const QStringList expected{QStringLiteral("Anna"), QStringLiteral("anna")};
        QCOMPARE(s.Items(ui.ComboBox1), expected);
        QCOMPARE(s.Items(ui.ComboBox2), expected);
        QCOMPARE(s.Items(ui.ComboBox3), expected);
        QVERIFY(ui.ComboBox1->currentText().isEmpty());
        QCOMPARE(s.form1->users.List().size(), std::size_t{2});
        // The stored models give the key that was saved.
        const quorvane::UserRecord* anna = s.form1->users.List().Find("anna");
        QVERIFY(anna != nullptr);
        QVERIFY(anna->threshold == threshold);
        QVERIFY(quorvane::DeriveUserKey(anna->codebooks) == saved);
        // The enrolment did not survive the restart.
        QCOMPARE(s.form1->enrolment.Threshold(), -1.0f);

        // Removing: an unknown name (case counts), a No, then a Yes.
        s.SetName(QStringLiteral("ANNA"));
        s.Click(ui.Button3);
        s.SetName(QStringLiteral("anna"));
        prompt.AnswerQuestion(false);
        s.Click(ui.Button3);
        QVERIFY(std::filesystem::exists(speakers / "anna.spk"));
        QCOMPARE(s.form1->users.List().size(), std::size_t{2});
        prompt.AnswerQuestion(true);
        s.Click(ui.Button3);
        QVERIFY(!std::filesystem::exists(speakers / "anna.spk"));
        QVERIFY(std::filesystem::exists(speakers / "Anna.spk"));
        const QString warning = QStringLiteral(
            "Deleting this user you will not be able\n"
            "to decode files, that were encoded using phrases of\n"
            "this user if you dont't have security key.\n"
            "\n"
            "Do you want to continue?");
        QCOMPARE(prompt.Messages(),
                 (QStringList{
                     QStringLiteral("User with such name does not exist. Please check the name!"),
                     warning, warning}));
        for (const ScriptedPrompt::Entry& question : prompt.Of(Kind::Question)) {
            QCOMPARE(question.caption, QStringLiteral("Warning"));
            QVERIFY(question.icon == Prompt::Icon::Warning);
        }
        QCOMPARE(s.Items(ui.ComboBox1), QStringList{QStringLiteral("Anna")});
        QCOMPARE(s.Items(ui.ComboBox2), QStringList{QStringLiteral("Anna")});
        QCOMPARE(s.Items(ui.ComboBox3), QStringList{QStringLiteral("Anna")});
        QVERIFY(s.form1->users.List().Find("anna") == nullptr);

        // Two speaker files carry "Anna": the second question names both; No keeps them,
        // yet the user leaves the list.
        std::filesystem::copy_file(speakers / "Anna.spk", speakers / "copy.spk");
        prompt.ClearShown();
        s.SetName(QStringLiteral("Anna"));
        prompt.AnswerQuestion(true);
        prompt.AnswerQuestion(false);
        s.Click(ui.Button3);
        QCOMPARE(prompt.Messages(),
                 (QStringList{warning,
                              QStringLiteral("Error. There were found 2 files representing this "
                                             "user (speaker).\nDo you want to delete them all?")}));
        QCOMPARE(prompt.Of(Kind::Question)[1].caption, QStringLiteral("Error"));
        QVERIFY(prompt.Of(Kind::Question)[1].icon == Prompt::Icon::Error);
        QVERIFY(std::filesystem::exists(speakers / "Anna.spk"));
        QVERIFY(std::filesystem::exists(speakers / "copy.spk"));
        QVERIFY(s.form1->users.List().empty());
        QCOMPARE(ui.ComboBox1->count(), 0);
        QCOMPARE(ui.ComboBox2->count(), 0);
        QCOMPARE(ui.ComboBox3->count(), 0);
    }

    // Next start: one user from the first file, the copy refused as a duplicate.
    prompt.ClearShown();
    {
        Session s(prompt, speakers);
        QCOMPARE(s.Items(s.ui().ComboBox1), QStringList{QStringLiteral("Anna")});
        QCOMPARE(prompt.Messages(),
                 QStringList{QStringLiteral("User Anna already is in the list")});
        // Yes to both questions deletes both files.
        prompt.ClearShown();
        s.SetName(QStringLiteral("Anna"));
        prompt.AnswerQuestion(true);
        prompt.AnswerQuestion(true);
        s.Click(s.ui().Button3);
        QCOMPARE(prompt.Messages().size(), qsizetype{2});
        QVERIFY(std::filesystem::is_empty(speakers));
    }
}

void MainWindowTest::namesBeyondAscii() {
    // Dots and letters beyond ASCII are allowed, and the name comes back the same.
    ScriptedPrompt prompt;
    const std::filesystem::path speakers = NewSpeakersFolder(QStringLiteral("unicode"));
    const QString name = QStringLiteral("Zo\u00eb.M\u00fcller");
    {
        Session s(prompt, speakers);
        std::vector<float> row(22);
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = 0.25f * static_cast<float>(i);
        }
        for (quorvane::VoiceCodebook& book : s.form1->enrolment.MutablePhraseCodebooks()) {
            quorvane::ImportCodewords(book, row, 1, 22);
        }
        s.form1->enrolment.SetThreshold(0.5f);
        s.SetName(name);
        prompt.AnswerQuestion(false);
        s.Click(s.ui().Button2);
        QCOMPARE(prompt.Messages().size(), qsizetype{2});  // protection and key questions
    }
    {
        Session s(prompt, speakers);
        QCOMPARE(s.Items(s.ui().ComboBox1), QStringList{name});
        QCOMPARE(s.Items(s.ui().ComboBox3), QStringList{name});
        QVERIFY(s.form1->users.List().Find(name.toStdString()) != nullptr);
        s.SetName(name);
        prompt.AnswerQuestion(true);
        s.Click(s.ui().Button3);
        QVERIFY(s.form1->users.List().empty());
        QVERIFY(std::filesystem::is_empty(speakers));
    }
}

void MainWindowTest::speakerFileThatCannotBeWritten() {
    // The Speakers folder cannot be created (its parent is a file): the store's message,
    // then the refusal; nothing added.
    ScriptedPrompt prompt;
    QFile blocker(scratch_.filePath(QStringLiteral("blocker")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Session s(prompt, ToPath(scratch_.filePath(QStringLiteral("blocker/Speakers"))));
    const std::vector<float> row(22, 0.5f);
    for (quorvane::VoiceCodebook& book : s.form1->enrolment.MutablePhraseCodebooks()) {
        quorvane::ImportCodewords(book, row, 1, 22);
    }
    s.form1->enrolment.SetThreshold(0.5f);
    s.SetName(QStringLiteral("carl"));
    s.Click(s.ui().Button2);
    // The described text, and its cause on a line of its own below it.
    const QString notADirectory =
        QString::fromStdString(std::make_error_code(std::errc::not_a_directory).message());
    QCOMPARE(prompt.Messages(),
             (QStringList{QStringLiteral("Protect carl's voice model with a passphrase?"),
                          QStringLiteral("Unable to save users (speakers) file\n"
                                         "The Speakers folder does not exist and can not be "
                                         "created: ") +
                              scratch_.filePath(QStringLiteral("blocker/Speakers")) +
                              QStringLiteral(" (") + notADirectory + QStringLiteral(")"),
                          QStringLiteral("Unable to add user")}));
    QVERIFY(s.form1->users.List().empty());
    QCOMPARE(s.ui().ComboBox1->count(), 0);
    QCOMPARE(s.ui().ComboBox2->count(), 0);
    QCOMPARE(prompt.Of(Kind::Question).size(), std::size_t{1});  // protection only
}

void MainWindowTest::protectionThroughThePassphraseBox() {
    // Yes to protection: the masked box, typed twice. Two different entries are told and asked
    // again; Cancel then ends the command with nothing written. Typed alike, the protected
    // file is written instead of the ordinary one.
    ScriptedPrompt prompt;
    const std::filesystem::path speakers = NewSpeakersFolder(QStringLiteral("protected"));
    Session s(prompt, speakers);
    const std::vector<float> row(22, 0.75f);
    for (quorvane::VoiceCodebook& book : s.form1->enrolment.MutablePhraseCodebooks()) {
        quorvane::ImportCodewords(book, row, 1, 22);
    }
    s.form1->enrolment.SetThreshold(0.5f);
    const auto type = [](const QString& first, const QString& second, bool remember) {
        return [first, second, remember](QDialog& box) {
            QCOMPARE(box.objectName(), QStringLiteral("PassphraseBox"));
            auto* edit = box.findChild<QLineEdit*>(QStringLiteral("PassphraseEdit"));
            auto* again = box.findChild<QLineEdit*>(QStringLiteral("PassphraseAgainEdit"));
            QVERIFY(edit != nullptr && again != nullptr);
            QVERIFY(edit->echoMode() == QLineEdit::Password &&
                    again->echoMode() == QLineEdit::Password);
            edit->setText(first);
            again->setText(second);
            box.findChild<QCheckBox*>(QStringLiteral("RememberCheckBox"))->setChecked(remember);
            box.accept();
        };
    };
    s.SetName(QStringLiteral("anna"));
    prompt.AnswerQuestion(true);
    prompt.OnShowModal(type(QStringLiteral("one"), QStringLiteral("two"), false));
    prompt.OnShowModal([](QDialog& box) { box.reject(); });
    s.Click(s.ui().Button2);
    QCOMPARE(prompt.Messages(),
             (QStringList{QStringLiteral("Protect anna's voice model with a passphrase?"),
                          QStringLiteral("The two passphrases differ")}));
    QVERIFY(std::filesystem::is_empty(speakers));
    QVERIFY(s.form1->users.List().empty());

    prompt.ClearShown();
    prompt.AnswerQuestion(true);
    prompt.OnShowModal(type(QStringLiteral("open sesame"), QStringLiteral("open sesame"), true));
    prompt.AnswerQuestion(false);  // no key file
    s.Click(s.ui().Button2);
    QVERIFY(std::filesystem::is_regular_file(speakers / "anna.qvlock"));
    QVERIFY(!std::filesystem::exists(speakers / "anna.spk"));
    QCOMPARE(s.Items(s.ui().ComboBox2), QStringList{QStringLiteral("anna")});
    QCOMPARE(prompt.Of(Kind::Question).size(), std::size_t{2});
}

void MainWindowTest::htmlHandlerOfTheDesktop() {
    struct Case {
        const char* what;
        QByteArray currentDesktop;
        std::vector<std::pair<QString, QByteArray>> files;
        QString entry;  // the handler's desktop entry, relative to the root; empty: none
        bool graphical;
    };
    const QString browser = QStringLiteral("usr/applications/browser.desktop");
    const QString vim = QStringLiteral("usr/applications/vim.desktop");
    const QString userList = QStringLiteral("config/mimeapps.list");
    const std::vector<Case> cases = {
        {"the user's default is a browser",
         {},
         {{userList, Defaults("browser.desktop;")}, {browser, kBrowserEntry}},
         browser,
         true},
        {"a default that runs in a terminal",
         {},
         {{userList, Defaults("vim.desktop;")}, {vim, kVimEntry}},
         vim,
         false},
        {"a terminal editor without Terminal=true",
         {},
         {{userList, Defaults("editor.desktop")},
          {QStringLiteral("data/applications/editor.desktop"), kEditorEntry}},
         QStringLiteral("data/applications/editor.desktop"),
         false},
        {"a terminal emulator running an editor",
         {},
         {{userList, Defaults("term.desktop")},
          {QStringLiteral("usr/applications/term.desktop"), kTerminalEntry}},
         QStringLiteral("usr/applications/term.desktop"),
         false},
        {"the user's list before the system's",
         {},
         {{userList, Defaults("vim.desktop")},
          {QStringLiteral("usr/applications/mimeapps.list"), Defaults("browser.desktop")},
          {browser, kBrowserEntry},
          {vim, kVimEntry}},
         vim,
         false},
        {"a default not installed is passed over",
         {},
         {{QStringLiteral("etc/mimeapps.list"), Defaults("gone.desktop;browser.desktop;")},
          {browser, kBrowserEntry}},
         browser,
         true},
        {"without a default, the cache of the installed applications",
         {},
         {{QStringLiteral("usr/applications/mimeinfo.cache"),
           "[MIME Cache]\ntext/html=vim.desktop;browser.desktop;\n"},
          {vim, kVimEntry},
          {browser, kBrowserEntry}},
         vim,
         false},
        {"the current desktop's own list first",
         "Test:Other",
         {{QStringLiteral("config/test-mimeapps.list"), Defaults("browser.desktop")},
          {userList, Defaults("vim.desktop")},
          {browser, kBrowserEntry},
          {vim, kVimEntry}},
         browser,
         true},
        {"an id with a prefix in a subfolder",
         {},
         {{userList, Defaults("kde-browser.desktop")},
          {QStringLiteral("usr/applications/kde/browser.desktop"), kBrowserEntry}},
         QStringLiteral("usr/applications/kde/browser.desktop"),
         true},
        {"a program that is not installed",
         {},
         {{userList, Defaults("gone.desktop")},
          {QStringLiteral("usr/applications/gone.desktop"),
           "[Desktop Entry]\nExec=/nonexistent/browser %u\nTerminal=false\n"}},
         QStringLiteral("usr/applications/gone.desktop"),
         false},
        {"a program not on PATH",
         {},
         {{userList, Defaults("gone.desktop")},
          {QStringLiteral("usr/applications/gone.desktop"), "[Desktop Entry]\nExec=firefox %u\n"}},
         QStringLiteral("usr/applications/gone.desktop"),
         false},
        {"a shell running a terminal editor",
         {},
         {{userList, Defaults("shell.desktop")},
          {QStringLiteral("usr/applications/shell.desktop"),
           "[Desktop Entry]\nExec=sh -c \"x-terminal-emulator -e vim %f\"\nTerminal=false\n"}},
         QStringLiteral("usr/applications/shell.desktop"),
         false},
        {"a shell running a browser by its path",
         {},
         {{userList, Defaults("shell.desktop")},
          {QStringLiteral("usr/applications/shell.desktop"),
           "[Desktop Entry]\nExec=env -u A sh -ec \"B=1 exec @ROOT@/bin/browser %u\"\n"}},
         QStringLiteral("usr/applications/shell.desktop"),
         true},
        {"no handler at all", {}, {{browser, kBrowserEntry}}, QString(), false},
    };
    int number = 0;
    for (const Case& c : cases) {
        const FakeDesktop desktop(scratch_.filePath(QStringLiteral("desktop%1").arg(++number)),
                                  c.currentDesktop);
        for (const auto& [file, text] : c.files) {
            desktop.Write(file, text);
        }
        const ui::HtmlHandler handler = ui::FindHtmlHandler();
        QVERIFY2(
            handler.desktopEntry == (c.entry.isEmpty() ? QString() : desktop.Path(c.entry)),
            qPrintable(QString::fromLatin1(c.what) + QStringLiteral(": ") + handler.desktopEntry));
        QVERIFY2(handler.graphical == c.graphical, c.what);
        QCOMPARE(ui::DesktopShowsHtml(), c.graphical);
    }
}

void MainWindowTest::desktopOpenerTellsItsFailure() {
    const QString page = scratch_.filePath(QStringLiteral("opened.htm"));
    QFile file(page);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    struct Case {
        const char* what;
        QByteArray opener;  // the script of xdg-open; empty: there is none
        bool opened;
    };
    const Case cases[] = {
        {"it opens the page", "#!/bin/sh\necho \"$1\" > \"$0.page\"\nexit 0\n", true},
        {"no program for the file", "#!/bin/sh\necho \"$1\" > \"$0.page\"\nexit 3\n", false},
        {"it crashes", "#!/bin/sh\necho \"$1\" > \"$0.page\"\nkill -9 $$\n", false},
        {"there is none", {}, false},
    };
    int number = 0;
    for (const Case& c : cases) {
        const FakeDesktop desktop(scratch_.filePath(QStringLiteral("opener%1").arg(++number)));
        if (!c.opener.isEmpty()) {
            desktop.Program(QStringLiteral("xdg-open"), c.opener);
        }
        QObject context;
        std::optional<bool> opened;
        ui::OpenWithDesktop(QUrl::fromLocalFile(page), context,
                            [&opened](bool result) { opened = result; });
        QTRY_VERIFY2(opened.has_value(), c.what);
        QVERIFY2(*opened == c.opened, c.what);
        if (!c.opener.isEmpty()) {
            // The opener was given the page's path.
            QFile given(desktop.Path(QStringLiteral("bin/xdg-open.page")));
            QVERIFY(given.open(QIODevice::ReadOnly));
            QCOMPARE(given.readAll().trimmed(), QFile::encodeName(page));
        }
    }

    // The program's prompt: a failed opener is told through `failed`, as is a missing page.
    const FakeDesktop failing(scratch_.filePath(QStringLiteral("opener-prompt")));
    failing.Program(QStringLiteral("xdg-open"), "#!/bin/sh\nexit 3\n");
    WidgetPrompt prompt;
    for (const QString& url : {QUrl::fromLocalFile(page).toString(),
                               QUrl::fromLocalFile(page + QStringLiteral(".absent")).toString()}) {
        bool failed = false;
        prompt.OpenUrl(url, [&failed] { failed = true; });
        QTRY_VERIFY2(failed, qPrintable(url));
    }
}

void MainWindowTest::helpAndAboutLinks() {
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("help")));
    const QString help =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("help.htm"));
    QFile::remove(help);
    // The installed copy's page is looked for in a folder of the test's own, so a package
    // installed on this machine changes nothing.
    const QString installed = scratch_.filePath(QStringLiteral("share/quorvane/help.htm"));
    s.form1->installedHelpPages = {ToPath(installed)};

    s.Click(s.ui().BitBtn3);
    s.Click(s.ui().BitBtn3);
    QCOMPARE(prompt.Of(Kind::Box).size(), std::size_t{2});
    QVERIFY(prompt.Of(Kind::OpenUrl).empty());
    for (const ScriptedPrompt::Entry& box : prompt.Of(Kind::Box)) {
        QCOMPARE(box.text,
                 QStringLiteral("Cannot open help file. File may have been moved or deleted."));
        QCOMPARE(box.caption, QStringLiteral("Error!"));
        QVERIFY(box.icon == Prompt::Icon::Warning);
    }

    // Present, with a browser as the desktop's handler: handed to the desktop (the installed
    // page while there is none beside the program); when the desktop cannot open it, the
    // program shows the page in its own window.
    auto desktop = std::make_unique<FakeDesktop>(scratch_.filePath(QStringLiteral("browser")));
    desktop->Write(QStringLiteral("config/mimeapps.list"), Defaults("browser.desktop"));
    desktop->Write(QStringLiteral("data/applications/browser.desktop"), kBrowserEntry);
    QVERIFY(QDir().mkpath(QFileInfo(installed).absolutePath()));
    for (const QString& page : {installed, help}) {
        QFile file(page);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<html></html>");
        prompt.ClearShown();
        s.Click(s.ui().BitBtn3);
        QVERIFY(!prompt.entries.empty() && prompt.entries[0].kind == Kind::OpenUrl);
        QCOMPARE(QUrl(prompt.entries[0].text).toLocalFile(), page);
    }
    prompt.ClearShown();
    s.Click(s.ui().BitBtn3);
    QCOMPARE(prompt.entries.size(), std::size_t{1});
    QVERIFY(prompt.entries[0].kind == Kind::OpenUrl);
    QCOMPARE(QUrl(prompt.entries[0].text).toLocalFile(), help);
    QVERIFY(s.form1->helpWindow == nullptr);
    prompt.openUrlResult = false;
    s.Click(s.ui().BitBtn3);
    QVERIFY(prompt.Messages().isEmpty());
    QVERIFY(s.form1->helpWindow != nullptr && s.form1->helpWindow->isVisible());
    const auto* browser = s.form1->helpWindow->findChild<QTextBrowser*>();
    QVERIFY(browser != nullptr);
    QCOMPARE(browser->source().toLocalFile(), help);
    // F1 is Help too.
    s.form1->helpWindow->hide();
    s.form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(s.form1.get()));
    QTest::keyClick(s.form1.get(), Qt::Key_F1);
    QVERIFY(s.form1->helpWindow->isVisible());

    // A desktop whose handler of HTML is a terminal editor is not given the page, even when
    // it would "open" it: the program's own window shows it.
    desktop.reset();
    const FakeDesktop terminal(scratch_.filePath(QStringLiteral("terminal")));
    terminal.Write(QStringLiteral("config/mimeapps.list"), Defaults("vim.desktop"));
    terminal.Write(QStringLiteral("usr/applications/vim.desktop"), kVimEntry);
    s.form1->helpWindow->hide();
    prompt.openUrlResult = true;
    prompt.ClearShown();
    s.Click(s.ui().BitBtn3);
    QVERIFY(prompt.entries.empty());
    QVERIFY(s.form1->helpWindow->isVisible());
    QCOMPARE(browser->source().toLocalFile(), help);
    QFile::remove(help);

    // The About page: links open their addresses, failures stay silent.
    prompt.ClearShown();
    s.ui().PageControl1->setCurrentIndex(3);
    QTest::mouseClick(s.ui().Label6, Qt::LeftButton);
    QTest::mouseClick(s.ui().Label7, Qt::LeftButton);
    QTest::mouseClick(s.ui().Label9, Qt::LeftButton);
    QTest::mouseClick(s.ui().Label9, Qt::RightButton);
    QTest::mouseClick(s.ui().Label12, Qt::LeftButton);
    const std::vector<ScriptedPrompt::Entry> opened = prompt.Of(Kind::OpenUrl);
    QCOMPARE(opened.size(), std::size_t{4});
    QCOMPARE(opened[0].text, QStringLiteral("mailto:support@quorvane.example"));
    QCOMPARE(opened[1].text, QStringLiteral("mailto:security@quorvane.example"));
    QCOMPARE(opened[2].text, QStringLiteral("https://quorvane.example"));
    // The licence, named on the page, and its text.
    QCOMPARE(s.ui().Label12->text(), QStringLiteral("GPL-3.0-or-later"));
    QCOMPARE(opened[3].text, QStringLiteral("https://www.gnu.org/licenses/gpl-3.0.html"));
    QVERIFY(prompt.Messages().isEmpty());

    // Hover underlines a link only while the pointer is over it.
    for (QLabel* link : {s.ui().Label6, s.ui().Label7, s.ui().Label9, s.ui().Label12}) {
        QVERIFY(!link->font().underline());
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), link->mapToGlobal(QPointF(1, 1)));
        QCoreApplication::sendEvent(link, &enter);
        QVERIFY(link->font().underline());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(link, &leave);
        QVERIFY(!link->font().underline());
    }
    QCOMPARE(TextColour(s.ui().Label9), kRed);
}

namespace {

// An object whose handling of a user event throws, like a handler that fails.
class Thrower final : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            throw std::invalid_argument("'12x' is not a valid integer value");
        }
        return QObject::event(event);
    }
};

}  // namespace

void MainWindowTest::exceptionBox() {
    // A command that throws: its text in the exception box, and the window goes on.
    ScriptedPrompt prompt;
    Session s(prompt, NewSpeakersFolder(QStringLiteral("exception")));
    const std::vector<float> row(22, 1.0f);
    for (quorvane::VoiceCodebook& book : s.form1->enrolment.MutablePhraseCodebooks()) {
        quorvane::ImportCodewords(book, row, 1, 22);
    }
    prompt.OnShowModal([](QDialog&) { throw std::runtime_error("The dialog failed"); });
    s.Click(s.ui().Button4);
    s.form2->hide();
    QCOMPARE(prompt.Messages(), QStringList{QStringLiteral("The dialog failed")});
    QCOMPARE(prompt.entries.back().caption, QStringLiteral("Quorvane 1.1"));
    QVERIFY(prompt.entries.back().icon == Prompt::Icon::Error);
    QVERIFY(s.form1->enrolment.Threshold() == -1.0f);
    s.Click(s.ui().Button1);
    QCOMPARE(prompt.Messages().last(), QStringLiteral("Please record phrase first!"));

    // Whatever else escapes to the application object is shown the same way.
    auto* application = qobject_cast<Application*>(QCoreApplication::instance());
    QVERIFY(application != nullptr);
    ScriptedPrompt top;
    application->SetPrompt(&top);
    Thrower thrower;
    QEvent user(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &user);
    QCoreApplication::sendEvent(&thrower, &user);
    application->SetPrompt(nullptr);
    QCOMPARE(top.Messages(), (QStringList{QStringLiteral("'12x' is not a valid integer value"),
                                          QStringLiteral("'12x' is not a valid integer value")}));
    QCOMPARE(top.entries[0].caption, QStringLiteral("Quorvane 1.1"));
    QVERIFY(top.entries[0].icon == Prompt::Icon::Error);
}

namespace {

// Runs `check` on the modal box or dialog the next call opens, once it is shown.
void OnNextModal(std::function<void(QWidget&)> check) {
    QTimer::singleShot(0, [check = std::move(check)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            QFAIL("no modal box was shown");
        }
        check(*modal);
    });
}

}  // namespace

void MainWindowTest::widgetPromptShowsRealBoxes() {
    WidgetPrompt prompt;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    const auto read = [&](QWidget& modal) {
        auto* box = qobject_cast<QMessageBox*>(&modal);
        QVERIFY(box != nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
    };

    OnNextModal([&](QWidget& modal) {
        read(modal);
        static_cast<QMessageBox&>(modal).accept();
    });
    prompt.Message(QStringLiteral("Please record phrase first!"));
    QCOMPARE(title, QStringLiteral("Quorvane 1.1"));
    QCOMPARE(text, QStringLiteral("Please record phrase first!"));
    QCOMPARE(icon, QMessageBox::NoIcon);

    OnNextModal([&](QWidget& modal) {
        read(modal);
        static_cast<QMessageBox&>(modal).accept();
    });
    prompt.Box(QStringLiteral("Signal level is too low, please repeat recording"),
               QStringLiteral("Warning"), Prompt::Icon::Warning);
    QCOMPARE(title, QStringLiteral("Warning"));
    QCOMPARE(icon, QMessageBox::Warning);

    // A warning question defaults to No; the answer is the button pressed.
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    OnNextModal([&](QWidget& modal) {
        auto& box = static_cast<QMessageBox&>(modal);
        read(modal);
        defaultButton = box.standardButton(box.defaultButton());
        box.button(QMessageBox::Yes)->click();
    });
    QVERIFY(prompt.Question(QStringLiteral("Do you want to continue?"), QStringLiteral("Warning"),
                            Prompt::Icon::Warning));
    QCOMPARE(defaultButton, QMessageBox::No);
    QCOMPARE(icon, QMessageBox::Warning);
    OnNextModal([&](QWidget& modal) {
        auto& box = static_cast<QMessageBox&>(modal);
        defaultButton = box.standardButton(box.defaultButton());
        box.button(QMessageBox::No)->click();
    });
    QVERIFY(!prompt.Question(QStringLiteral("Do you want to save it?"),
                             QStringLiteral("Security key generation"), Prompt::Icon::Question));
    QCOMPARE(defaultButton, QMessageBox::Yes);

    // The replace question: four buttons, No by default, each button its own answer.
    const struct {
        QMessageBox::StandardButton button;
        Prompt::ReplaceAnswer answer;
    } replies[] = {{QMessageBox::Yes, Prompt::ReplaceAnswer::Yes},
                   {QMessageBox::YesToAll, Prompt::ReplaceAnswer::YesToAll},
                   {QMessageBox::No, Prompt::ReplaceAnswer::No},
                   {QMessageBox::Cancel, Prompt::ReplaceAnswer::Cancel}};
    for (const auto& reply : replies) {
        OnNextModal([&](QWidget& modal) {
            auto& box = static_cast<QMessageBox&>(modal);
            read(modal);
            defaultButton = box.standardButton(box.defaultButton());
            box.button(reply.button)->click();
        });
        QVERIFY(prompt.Replace(QStringLiteral("File a already exists. Do you want to replace it?"),
                               QStringLiteral("Confirm file replace")) == reply.answer);
        QCOMPARE(defaultButton, QMessageBox::No);
        QCOMPARE(icon, QMessageBox::Warning);
    }

    // The security level dialog, shown modally and only hidden afterwards.
    TForm2 form2;
    OnNextModal([&](QWidget& modal) {
        QCOMPARE(&modal, static_cast<QWidget*>(&form2));
        form2.SetItemIndex(1);
        QTest::mouseClick(form2.ui->Button1, Qt::LeftButton);
    });
    QCOMPARE(prompt.ShowModal(form2), int(QDialog::Accepted));
    QVERIFY(!form2.isVisible());
    QCOMPARE(form2.ItemIndex(), 1);
}

void MainWindowTest::closingFreesTheState() {
    ScriptedPrompt prompt;
    const std::filesystem::path speakers = NewSpeakersFolder(QStringLiteral("closing"));
    Session s(prompt, speakers);
    s.Record(phrase1_);
    QVERIFY(s.form1->enrolment.RecordedCount() > 0);
    QTest::mousePress(s.ui().BitBtn2, Qt::LeftButton);  // still held while closing
    QVERIFY(s.form1->close());
    QVERIFY(s.form1->enrolment.RecordedSamples().empty());
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    QVERIFY(s.form1->soundBuffer == nullptr);
    QVERIFY(s.form1->users.List().empty());
    QVERIFY(!s.form1->Timer1->isActive());
}

int main(int argc, char** argv) {
    Application application(argc, argv);
    Application::setQuitOnLastWindowClosed(false);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainTest.moc"
