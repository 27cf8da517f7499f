// The main window used from the keyboard alone and telling what each command did:
// Record and Play held with Space, Ctrl+Tab between the pages, the status texts whole or
// elided at the default size, the phrase slot moving on, the security key dialog's focus and
// key file, the single-user preselection, the names a screen reader says (boxes by their
// labels), and message boxes and dialogs wide enough for their caption. Scripted prompt and
// sound device, offscreen platform.

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ScriptedDevice.h"
#include "tests/ui/Phrases.h"
#include "tests/ui/ProgramWindows.h"
#include "tests/ui/ScriptedPrompt.h"
#include "ui/Application.h"
#include "ui/ElidedLabel.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui/TitleBar.h"
#include "ui/WidgetPrompt.h"
#include "ui_Main.h"
#include "workflow/Coding.h"
#include "workflow/Figures.h"
#include "workflow/Messages.h"

using Samples = std::vector<std::int16_t>;
using Kind = ScriptedPrompt::Kind;

namespace {

std::filesystem::path ToPath(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

// A Space key event as the window system delivers it, auto-repeated or not.
void SendSpace(QWidget* widget, QEvent::Type type, bool autoRepeat = false) {
    QKeyEvent key(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), autoRepeat);
    QCoreApplication::sendEvent(widget, &key);
}

int CountOf(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Confirms the files dialog with `folder` as the output folder.
std::function<void(QDialog&)> ConfirmInto(ScriptedPrompt& prompt, const QString& folder) {
    return [&prompt, folder](QDialog& dialog) {
        auto& form = static_cast<TForm3&>(dialog);
        prompt.AnswerFolder(folder);
        form.Button2->click();
        form.OK->click();
    };
}

}  // namespace

class UsabilityTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void wholeSessionFromTheKeyboard();
    void spaceHoldIgnoresRepeatsAndEndsOnFocusLoss();
    void namesForScreenReaders();
    void statusTextsWholeOrElided();
    void chosenFilesNamedOnTheDecodePage();
    void windowsFitTheirCaption();
    void boxesNamedByTheirLabels();
    void pagesChangeWhereverTheFocusIs();

private:
    // Holds Space on Record while the scripted device delivers `samples`, then releases
    // it and lets the release's grace time pass.
    static void RecordWithSpace(ProgramWindows& s, const Samples& samples) {
        s.device->SetCapture(samples, quorvane::ScriptedDevice::Pace::Instant);
        s.ui().BitBtn1->setFocus();
        SendSpace(s.ui().BitBtn1, QEvent::KeyPress);
        SendSpace(s.ui().BitBtn1, QEvent::KeyRelease);
        QTest::qWait(TForm1::kKeyReleaseGraceMs + 60);
    }
    std::filesystem::path NewSpeakersFolder(const QString& name) {
        const QString folder = scratch_.filePath(name);
        QDir().mkpath(folder);
        return ToPath(folder);
    }

    QTemporaryDir scratch_;
    std::vector<Samples> phrases_;
};

void UsabilityTest::initTestCase() {
    QVERIFY(scratch_.isValid());
    const QString texts[] = {
        QStringLiteral("My voice is my key, open the files for me."),
        QStringLiteral("Seven green lanterns shine above the quiet harbour."),
        QStringLiteral("Please remember the number forty two and the colour blue.")};
    for (int i = 0; i < 3; ++i) {
        phrases_.push_back(
            SpeakPhrase(scratch_.path(), QStringLiteral("p%1").arg(i + 1), texts[i]));
        QVERIFY2(phrases_.back().size() > 20000, "espeak-ng and sox must be installed");
    }
}

void UsabilityTest::wholeSessionFromTheKeyboard() {
    ScriptedPrompt prompt;
    ProgramWindows s(prompt, NewSpeakersFolder(QStringLiteral("session")));
    Ui::TForm1& ui = s.ui();
    TForm1& form = *s.form1;

    // Three phrases, each recorded with Space and added with Space on "Add phrase": the
    // slot moves on by itself, the panel says what was added.
    for (int slot = 0; slot < 3; ++slot) {
        QCOMPARE(form.RadioGroup1ItemIndex(), slot);
        RecordWithSpace(s, phrases_[static_cast<std::size_t>(slot)]);
        QVERIFY2(prompt.Messages().isEmpty(), qPrintable(prompt.Messages().join(QLatin1Char('|'))));
        QVERIFY(form.enrolment.RecordedCount() > 20000);
        QVERIFY(!ui.BitBtn1->isDown());
        QTest::keyClick(ui.Button1, Qt::Key_Space);
        QCOMPARE(form.StatusText(), QStringLiteral("Phrase %1 added").arg(slot + 1));
    }
    QCOMPARE(form.RadioGroup1ItemIndex(), 2);  // no empty slot left to move to

    prompt.OnShowModal([](QDialog& dialog) { static_cast<TForm2&>(dialog).SetItemIndex(2); });
    QTest::keyClick(ui.Button4, Qt::Key_Space);
    QVERIFY(form.StatusText().startsWith(QStringLiteral("Threshold: ")));

    // Adding the user, with its key file.
    const QString keyFile = scratch_.filePath(QStringLiteral("anna_key.txt"));
    ui.ComboBox1->setEditText(QStringLiteral("anna"));
    prompt.AnswerQuestion(false);  // not protected
    prompt.AnswerQuestion(true);
    prompt.AnswerSaveFile(keyFile);
    QTest::keyClick(ui.Button2, Qt::Key_Space);
    QCOMPARE(form.StatusText(), QStringLiteral("User anna added, security key saved to ") +
                                    QDir::toNativeSeparators(keyFile));

    // The only user is preselected on the Encode page; encoding says where files went.
    ui.PageControl1->setCurrentIndex(1);
    QCOMPARE(ui.ComboBox2->currentText(), QStringLiteral("anna"));
    const QString plain = scratch_.filePath(QStringLiteral("plain"));
    const QString out = scratch_.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(plain) && QDir().mkpath(out));
    const QStringList files{plain + QStringLiteral("/a.txt"), plain + QStringLiteral("/b.txt")};
    WriteAll(files[0], "first file");
    WriteAll(files[1], "second file");
    prompt.AnswerOpenFiles(files);
    prompt.OnShowModal(ConfirmInto(prompt, out));
    // While the batch runs: the status keeps its name, Cancel shows beside Pr1 and the window
    // keeps its size.
    auto* panel = form.findChild<QLabel*>(QStringLiteral("StatusBar1Panel1"));
    const QSize size = form.size();
    int inWork = 0;
    const QMetaObject::Connection watch =
        connect(ui.Pr1, &QProgressBar::valueChanged, ui.Pr1, [&](int position) {
            if (position == 0 || !form.BatchRunning()) {
                return;
            }
            ++inWork;
            QCOMPARE(panel->accessibleName(), QStringLiteral("Status"));
            QCOMPARE(panel->accessibleDescription(), form.StatusText());
            QVERIFY(ui.CancelBatch->isVisible());
            // In Pr1's row: the row's middle runs through both.
            const int middle = ui.Pr1->geometry().center().y();
            QVERIFY(ui.CancelBatch->geometry().top() <= middle &&
                    middle <= ui.CancelBatch->geometry().bottom());
            QCOMPARE(form.size(), size);
        });
    QTest::keyClick(ui.Button5, Qt::Key_Space);
    disconnect(watch);
    QVERIFY(inWork > 0);
    QCOMPARE(form.StatusText(),
             QStringLiteral("2 of 2 files encoded into ") + QDir::toNativeSeparators(out));
    QCOMPARE(panel->accessibleName(), QStringLiteral("Status"));
    QCOMPARE(panel->accessibleDescription(), form.StatusText());

    // Decoding with the key file: the dialog opens with the focus in the memo; a file
    // that is no key file is refused and leaves the memo as it was, the key file fills it.
    const QString damaged = scratch_.filePath(QStringLiteral("damaged_key.txt"));
    WriteAll(damaged, "Users name: anna\nYour key:\n1\n2\nthree\n");
    const QString notEncoded = out + QStringLiteral("/c.txt.crp");
    WriteAll(notEncoded, "not an encoded file");
    ui.PageControl1->setCurrentIndex(2);
    prompt.AnswerOpenFiles(
        {out + QStringLiteral("/a.txt.crp"), out + QStringLiteral("/b.txt.crp"), notEncoded});
    QTest::keyClick(ui.Button6, Qt::Key_Space);
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    ui.RadioGroup3_1->click();
    QWidget* focused = nullptr;
    QString memoAfterDamaged = QStringLiteral("unset");
    prompt.OnShowModal([&](QDialog& dialog) {
        auto& key = static_cast<TForm4&>(dialog);
        focused = key.focusWidget();
        prompt.AnswerOpenFiles({damaged});
        key.Button3->click();
        memoAfterDamaged = key.Memo1->toPlainText();
        prompt.AnswerOpenFiles({keyFile});
        key.Button3->click();
        key.O->click();
    });
    const QString decoded = scratch_.filePath(QStringLiteral("decoded"));
    QVERIFY(QDir().mkpath(decoded));
    prompt.OnShowModal(ConfirmInto(prompt, decoded));
    prompt.ClearShown();
    QTest::keyClick(ui.Button7, Qt::Key_Space);
    QCOMPARE(focused, static_cast<QWidget*>(s.form4->Memo1));
    QCOMPARE(memoAfterDamaged, QString());
    const QStringList messages = prompt.Messages();
    QVERIFY2(!messages.isEmpty() &&
                 messages.first() == QDir::toNativeSeparators(damaged) +
                                         QStringLiteral(": is not a security key file: it must "
                                                        "hold eight signed 32-bit numbers, one "
                                                        "per line"),
             qPrintable(messages.join(QLatin1Char('|'))));
    QCOMPARE(s.form4->KeyLines().size(), 8);
    QFile first(decoded + QStringLiteral("/a.txt"));
    QVERIFY(first.open(QIODevice::ReadOnly));
    QCOMPARE(first.readAll(), QByteArray("first file"));
    QCOMPARE(form.StatusText(), QStringLiteral("2 of 3 files decoded into ") +
                                    QDir::toNativeSeparators(decoded) +
                                    QStringLiteral("; 1 failed"));

    // Removing the user.
    ui.PageControl1->setCurrentIndex(0);
    ui.ComboBox1->setEditText(QStringLiteral("anna"));
    prompt.AnswerQuestion(true);
    QTest::keyClick(ui.Button3, Qt::Key_Space);
    QCOMPARE(form.StatusText(), QStringLiteral("User anna removed"));
    QCOMPARE(ui.ComboBox2->count(), 0);
}

void UsabilityTest::spaceHoldIgnoresRepeatsAndEndsOnFocusLoss() {
    ScriptedPrompt prompt;
    ProgramWindows s(prompt, NewSpeakersFolder(QStringLiteral("hold")));
    Ui::TForm1& ui = s.ui();
    TForm1& form = *s.form1;

    // Auto-repeat while held, and a repeat's release reported as a real one but followed
    // by a press within the grace time: one recording, still running.
    s.device->SetCapture(phrases_[0], quorvane::ScriptedDevice::Pace::Instant);
    s.device->ClearCalls();
    ui.BitBtn1->setFocus();
    SendSpace(ui.BitBtn1, QEvent::KeyPress);
    for (int i = 0; i < 5; ++i) {
        SendSpace(ui.BitBtn1, QEvent::KeyRelease, true);
        SendSpace(ui.BitBtn1, QEvent::KeyPress, true);
    }
    SendSpace(ui.BitBtn1, QEvent::KeyRelease);
    QTest::qWait(TForm1::kKeyReleaseGraceMs / 4);
    SendSpace(ui.BitBtn1, QEvent::KeyPress, true);
    QTest::qWait(TForm1::kKeyReleaseGraceMs + 60);
    QVERIFY(form.Timer1->isActive());
    QVERIFY(ui.BitBtn1->isDown());
    QCOMPARE(CountOf(s.device->Calls(), "StartInput"), 1);
    QCOMPARE(form.enrolment.RecordedCount(), 0);

    // The real release ends it once the grace time has passed.
    SendSpace(ui.BitBtn1, QEvent::KeyRelease);
    QVERIFY(form.Timer1->isActive());
    QTest::qWait(TForm1::kKeyReleaseGraceMs + 60);
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!ui.BitBtn1->isDown());
    QVERIFY(form.enrolment.RecordedCount() > 20000);
    QCOMPARE(CountOf(s.device->Calls(), "CloseInput"), 1);

    // Play held with Space ends at once when the focus goes elsewhere.
    ui.BitBtn2->setFocus();
    SendSpace(ui.BitBtn2, QEvent::KeyPress);
    QVERIFY(form.Timer1->isActive() && s.device->OutputOpen());
    QFocusEvent lost(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(ui.BitBtn2, &lost);
    QVERIFY(!form.Timer1->isActive());
    QVERIFY(!s.device->OutputOpen());
    QVERIFY(!ui.BitBtn2->isDown());
    // Its key's release afterwards changes nothing.
    SendSpace(ui.BitBtn2, QEvent::KeyRelease);
    QTest::qWait(TForm1::kKeyReleaseGraceMs + 60);
    QVERIFY(prompt.Messages().isEmpty());
}

void UsabilityTest::namesForScreenReaders() {
    ScriptedPrompt prompt;
    ProgramWindows s(prompt, NewSpeakersFolder(QStringLiteral("names")));
    Ui::TForm1& ui = s.ui();
    // Each control a screen reader announces has a name and says what it does.
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui.BitBtn1, ui.BitBtn2, ui.BitBtn3, ui.Pr1, ui.ComboBox1, ui.ComboBox2, ui.ComboBox3,
             ui.Button1, ui.Button2, ui.Button3, ui.Button4, ui.Button5, ui.Button6, ui.Button7,
             ui.Verifikate, ui.Label2, ui.Label4}) {
        QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        QVERIFY2(!control->accessibleDescription().isEmpty(), qPrintable(control->objectName()));
    }
    QCOMPARE(ui.BitBtn1->accessibleDescription(),
             QStringLiteral("Record: press and hold (mouse button or Space) to record sound"));
    QCOMPARE(ui.ComboBox1->accessibleName(), QStringLiteral("Your name"));
    // The About links show their addresses, for a desktop without a mail program.
    QCOMPARE(ui.Label9->toolTip(), QStringLiteral("https://quorvane.example"));
    // The phrase indicators follow their colours.
    QCOMPARE(ui.Panel1->accessibleName(), QStringLiteral("Phrase 1: not added"));
    QCOMPARE(ui.Panel3->accessibleName(), QStringLiteral("Phrase 3: not added"));
    s.Record(phrases_[1]);
    s.Click(ui.RadioGroup1_2);
    s.Click(ui.Button1);
    QVERIFY(s.form1->PhraseIndicatorGreen(2));
    QCOMPARE(ui.Panel3->accessibleName(), QStringLiteral("Phrase 3: added"));
    QCOMPARE(ui.Panel1->accessibleName(), QStringLiteral("Phrase 1: not added"));
    // The selection moved to the first empty slot after the last one.
    QCOMPARE(s.form1->RadioGroup1ItemIndex(), 0);
}

void UsabilityTest::statusTextsWholeOrElided() {
    ScriptedPrompt prompt;
    ProgramWindows s(prompt, NewSpeakersFolder(QStringLiteral("texts")));
    Ui::TForm1& ui = s.ui();
    auto* panel = s.form1->findChild<QLabel*>(QStringLiteral("StatusBar1Panel1"));
    QVERIFY(panel != nullptr);
    // The status panel spans the window; Cancel sits beside Pr1, not in the status bar.
    QVERIFY2(panel->width() >= s.form1->width() - 20,
             qPrintable(QStringLiteral("%1 of %2").arg(panel->width()).arg(s.form1->width())));
    QVERIFY(!ui.StatusBar1->isAncestorOf(ui.CancelBatch));
    QCOMPARE(ui.CancelBatch->parentWidget(), ui.Pr1->parentWidget());

    const auto text = [](const std::string& value) { return QString::fromStdString(value); };
    quorvane::BatchResult batch;
    for (const quorvane::FileStatus status :
         {quorvane::FileStatus::Done, quorvane::FileStatus::Done, quorvane::FileStatus::Failed,
          quorvane::FileStatus::Skipped}) {
        quorvane::FileOutcome file;
        file.status = status;
        batch.files.push_back(file);
    }
    batch.cancelled = true;
    const std::string longName(40, 'n');
    const std::string folder = "/home/anna/Documents/encrypted files/2024";
    struct Case {
        QString text;
        bool whole;  // the described texts must be shown whole at the default size
    };
    std::vector<Case> cases = {
        {QStringLiteral("Press and hold to record sound"), true},
        {QStringLiteral("Press and hold to play recorded sound"), true},
        {QStringLiteral("Release button to stop recording"), true},
        {QStringLiteral("Release button to stop playing"), true},
        {text("Threshold: " + quorvane::GeneralText(-1.23456789e-05f)), true},
        {text("Threshold: " + quorvane::FixedText(1234.5678f) +
              "  Distance:" + quorvane::FixedText(1234.5678f)),
         true},
        {text(quorvane::PhraseAddedText(3)), false},
        {text(quorvane::UserAddedText("anna", "/home/anna/Documents/anna_key.txt")), false},
        {text(quorvane::UserAddedText(longName, folder + "/" + longName + "_key.txt")), false},
        {text(quorvane::UserRemovedText(longName)), false},
        {text(quorvane::BatchFileText(1, 6, "part1.bin") + quorvane::SpeedText(5.4e8)), false},
        {text(quorvane::BatchFileText(6, 6, longName + ".bin") + quorvane::SpeedText(5.4e8)),
         false},
        {text(quorvane::BatchSummary(batch, 6, true, folder)), false},
        {text(quorvane::BatchSummary(batch, 6, false, folder + "/" + longName)), false},
        {text(quorvane::CancelledAfterText(2, 6)), false},
    };
    // The file of a batch with names and speeds of many widths, so that the elided text ends
    // on every pixel of the room (QA's own text first).
    for (std::size_t extra = 0; extra < 24; ++extra) {
        cases.push_back({text(quorvane::BatchFileText(1, 3,
                                                      std::string(extra, 'i') +
                                                          "quarterly-financial-report-final-"
                                                          "version-A.bin") +
                              quorvane::SpeedText(2.85e8 + static_cast<double>(extra) * 1e6)),
                         false});
    }
    // Idle, and as during a batch (Cancel shown beside Pr1).
    for (const bool batch : {false, true}) {
        ui.CancelBatch->setVisible(batch);
        for (const Case& c : cases) {
            s.form1->SetStatusText(c.text);
            const QString shown = panel->text();
            QCOMPARE(s.form1->StatusText(), c.text);
            // What is drawn keeps the status bar's inset from the window's edge at both ends.
            const QRect ink = panel->fontMetrics().boundingRect(shown);
            const int origin = panel->mapTo(s.form1.get(), panel->contentsRect().topLeft()).x();
            QVERIFY2(origin + ink.left() >= 0 && origin + ink.right() < s.form1->width() - origin,
                     qPrintable(QStringLiteral("%1 to %2 of %3: %4")
                                    .arg(origin + ink.left())
                                    .arg(origin + ink.right())
                                    .arg(s.form1->width())
                                    .arg(shown)));
            if (shown == c.text) {
                QCOMPARE(panel->toolTip(), QString());
            } else {
                // Elided in the middle: its start and its end are the text's own.
                QVERIFY2(!c.whole, qPrintable(c.text + QStringLiteral(" is cut")));
                const QStringList parts = shown.split(QChar(0x2026));
                QCOMPARE(parts.size(), 2);
                QVERIFY2(parts[0].size() > 8 && c.text.startsWith(parts[0]), qPrintable(shown));
                QVERIFY2(parts[1].size() > 8 && c.text.endsWith(parts[1]), qPrintable(shown));
                QCOMPARE(panel->toolTip(), c.text);
            }
            // A screen reader hears the panel as "Status", with the whole text.
            QCOMPARE(panel->accessibleName(), QStringLiteral("Status"));
            QCOMPARE(panel->accessibleDescription(), c.text);
        }
    }
    ui.CancelBatch->hide();
    s.form1->SetStatusText(QString());
    QCOMPARE(panel->accessibleDescription(), QStringLiteral("What the last command did"));

    // The decoding button is called what it shows.
    s.Click(ui.RadioGroup3_1);
    QCOMPARE(ui.Button7->text(), QStringLiteral("Enter key..."));
    QCOMPARE(QAccessible::queryAccessibleInterface(ui.Button7)->text(QAccessible::Name),
             QStringLiteral("Enter key..."));
}

void UsabilityTest::chosenFilesNamedOnTheDecodePage() {
    ScriptedPrompt prompt;
    ProgramWindows s(prompt, NewSpeakersFolder(QStringLiteral("chosen")));
    Ui::TForm1& ui = s.ui();
    const QString folder = scratch_.filePath(QStringLiteral("chosen-files"));
    QVERIFY(QDir().mkpath(folder));
    QStringList files;
    for (const char* name : {"report.pdf.crp", "notes.txt.crp", "photo.jpg.crp"}) {
        files << folder + QLatin1Char('/') + QString::fromLatin1(name);
        WriteAll(files.last(), "annacryptedfile 0123456789");
    }
    const QString plain = folder + QStringLiteral("/plain.txt");
    WriteAll(plain, "not encoded");
    ui.PageControl1->setCurrentIndex(2);
    QVERIFY(!ui.DecodeChosen->isVisible());

    // Named on the command line (as the file manager passes it), chosen in the dialog, the
    // dialog cancelled.
    enum class Way { Given, Dialog };
    struct Case {
        Way way;
        QStringList files;
        QString shown;  // empty: nothing chosen, the line hidden
    };
    const Case cases[] = {
        {Way::Given, {files[0]}, QStringLiteral("Chosen: report.pdf.crp")},
        {Way::Dialog, files,
         QStringLiteral("Chosen: 3 files: report.pdf.crp, notes.txt.crp, photo.jpg.crp")},
        {Way::Given, {files[1], plain}, QStringLiteral("Chosen: notes.txt.crp")},
        {Way::Dialog, {}, QString()},
    };
    for (const Case& c : cases) {
        if (c.way == Way::Given) {
            s.form1->DecodeGivenFiles(c.files);
        } else {
            prompt.AnswerOpenFiles(c.files);
            s.Click(ui.Button6);
        }
        QCOMPARE(ui.DecodeChosen->isVisible(), !c.shown.isEmpty());
        QCOMPARE(ui.DecodeChosen->accessibleName(), QStringLiteral("Chosen files"));
        if (!c.shown.isEmpty()) {
            QCOMPARE(ui.DecodeChosen->WholeText(), c.shown);
            QCOMPARE(ui.DecodeChosen->accessibleDescription(), c.shown);
        }
    }
}

void UsabilityTest::windowsFitTheirCaption() {
    const QString caption = QStringLiteral("Security key generation");
    QMessageBox narrow(QMessageBox::NoIcon, caption, QStringLiteral("Done"), QMessageBox::Ok);
    QMessageBox widened(QMessageBox::NoIcon, caption, QStringLiteral("Done"), QMessageBox::Ok);
    WidgetPrompt::WidenForCaption(widened);
    narrow.show();
    widened.show();
    QFont bold = widened.font();
    bold.setBold(true);
    // The window system adds the program's name to the caption.
    const int needed = QFontMetrics(bold).horizontalAdvance(
        caption + QStringLiteral(" \u2014 ") + QGuiApplication::applicationDisplayName());
    QVERIFY2(narrow.width() < needed + 100, "the unwidened box is already wide enough");
    QVERIFY2(widened.width() >= needed + 100,
             qPrintable(QStringLiteral("%1 < %2").arg(widened.width()).arg(needed + 100)));

    // The dialogs, with every caption they show; their controls stay inside them.
    TForm2 level;
    TForm3 files;
    TForm4 key;
    struct Case {
        QDialog* dialog;
        QString caption;
    };
    const Case cases[] = {
        {&level, QStringLiteral("Security parameters")},
        {&files, QStringLiteral("Files for encoding")},
        {&files, QStringLiteral("Files for decoding")},
        {&key, QStringLiteral("Security key")},
    };
    for (const Case& c : cases) {
        c.dialog->setWindowTitle(c.caption);
        c.dialog->show();
        QVERIFY2(c.dialog->width() >= ui::TitleBarWidth(*c.dialog),
                 qPrintable(QStringLiteral("%1: %2 < %3")
                                .arg(c.caption)
                                .arg(c.dialog->width())
                                .arg(ui::TitleBarWidth(*c.dialog))));
        for (const QWidget* control : c.dialog->findChildren<QWidget*>()) {
            const QWidget* parent = control->parentWidget();
            QVERIFY2(control->geometry().right() < parent->width(),
                     qPrintable(c.caption + QLatin1Char(' ') + control->objectName()));
        }
        c.dialog->hide();
    }
}

void UsabilityTest::boxesNamedByTheirLabels() {
    ScriptedPrompt prompt;
    ProgramWindows s(prompt, NewSpeakersFolder(QStringLiteral("labels")));
    Ui::TForm1& ui = s.ui();
    TForm3& files = *s.form3;
    TForm4& key = *s.form4;
    // What a screen reader reads as a box's label: the label it is the buddy of, else (a
    // list, which has no such relation) its own name. A combo box's own name is its value.
    const auto labelOf = [](QWidget* box) {
        const QAccessibleInterface* self = QAccessible::queryAccessibleInterface(box);
        const auto relations = self->relations(QAccessible::Label);
        return relations.isEmpty() ? self->text(QAccessible::Name)
                                   : relations.first().first->text(QAccessible::Name);
    };
    const std::pair<QWidget*, QString> boxes[] = {
        {ui.ComboBox1, QStringLiteral("Your name")},
        {ui.ComboBox2, QStringLiteral("Registered users name")},
        {ui.ComboBox3, QStringLiteral("Users name")},
        {files.Edit1, QStringLiteral("Users name")},
        {files.ListBox1, QStringLiteral("Selected files")},
        {files.Edit2, QStringLiteral("Write encoded files to folder:")},
        {key.Edit1, QStringLiteral("Your name:")},
        {key.Memo1, QStringLiteral("Enter your security key")},
    };
    ui.ComboBox2->setEditText(QStringLiteral("anna"));
    for (const auto& [box, label] : boxes) {
        QCOMPARE(labelOf(box), label);
    }
}

void UsabilityTest::pagesChangeWhereverTheFocusIs() {
    ScriptedPrompt prompt;
    ProgramWindows s(prompt, NewSpeakersFolder(QStringLiteral("pages")));
    Ui::TForm1& ui = s.ui();
    s.form1->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(s.form1.get()));
    // Focus outside the pages (Record) and inside one (the name box); forward wraps round.
    struct Case {
        QWidget* focus;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int from;
        int to;
    };
    const Case cases[] = {
        {ui.BitBtn1, Qt::Key_Tab, Qt::ControlModifier, 0, 1},
        {ui.BitBtn3, Qt::Key_Tab, Qt::ControlModifier, 3, 0},
        {ui.BitBtn2, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 0, 3},
        {ui.ComboBox1, Qt::Key_Tab, Qt::ControlModifier, 0, 1},
        {ui.ComboBox1, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, 1, 0},
    };
    for (const Case& c : cases) {
        ui.PageControl1->setCurrentIndex(c.from);
        c.focus->setFocus();
        QTest::keyClick(c.focus, c.key, c.modifiers);
        QCOMPARE(ui.PageControl1->currentIndex(), c.to);
    }
}

int main(int argc, char** argv) {
    Application application(argc, argv);
    Application::setQuitOnLastWindowClosed(false);
    UsabilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "UsabilityTest.moc"
