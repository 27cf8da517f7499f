// The "Encode" and "Decode" pages driven as a person would: through their buttons,
// the files dialog and the security-key dialog, with a scripted prompt and the
// scripted sound device, on the offscreen platform. Two users are enrolled through
// the core (three phrases each, spoken by espeak-ng in two different voices).

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtTest>
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "files/PathText.h"
#include "interfaces/Progress.h"
#include "speaker/Decision.h"
#include "speaker/KeyFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/Training.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/support/CodingWrappers.h"
#include "tests/support/EarlierFormats.h"
#include "tests/support/ScriptedDevice.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/ui/Phrases.h"
#include "tests/ui/ProgramWindows.h"
#include "tests/ui/ScriptedPrompt.h"
#include "ui/BatchRunner.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui_Main.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"
#include "workflow/Users.h"

using Samples = std::vector<std::int16_t>;
using Kind = ScriptedPrompt::Kind;

namespace {

const QColor kGreen(0x00, 0x80, 0x00);
const QColor kRed(0xFF, 0x00, 0x00);
const QString kSep = QDir::separator();

std::filesystem::path ToPath(const QString& text) {
    return std::filesystem::path(text.toStdU16String());
}

// A phrase spoken by espeak-ng in the given voice, converted by sox to 16-bit mono
// at 11025 Hz and normalised to -3 dB (loud, never clipped).
Samples Speak(const QString& folder, const QString& name, const QStringList& voice,
              const QString& text) {
    return SpeakPhrase(folder, name, text, voice,
                       {QStringLiteral("gain"), QStringLiteral("-n"), QStringLiteral("-3")});
}

// `count` samples alternating +value and -value: loud and clean, but no speech.
Samples Square(std::size_t count, std::int16_t value) {
    Samples samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = (i % 2 == 0) ? value : static_cast<std::int16_t>(-value);
    }
    return samples;
}

// The messages shown without the causes on the lines below them.
QStringList FirstLines(const QStringList& messages) {
    QStringList lines;
    for (const QString& message : messages) {
        lines << message.section(QLatin1Char('\n'), 0, 0);
    }
    return lines;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Plain test content of a given length with a recognisable pattern.
QByteArray Content(int length, char seed) {
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i) {
        bytes[i] = static_cast<char>(seed + i * 7);
    }
    return bytes;
}

// The eight words of a key as the key file lists them, one per line.
QString KeyLines(const quorvane::UserKey& key) {
    QString text;
    for (const std::uint32_t word : key) {
        text += QString::number(static_cast<std::int32_t>(word)) + QStringLiteral("\n");
    }
    return text;
}

// The four windows with the scripted device, and the steps these tests repeat.
struct Session : ProgramWindows {
    using ProgramWindows::ProgramWindows;

    // "Open file(s) to decode..." answered with `files`.
    void ChooseForDecoding(const QStringList& files) {
        prompt.AnswerOpenFiles(files);
        Click(ui().Button6);
    }
    // "Enter security key" and "Enter key..." with the given Memo1 text.
    void PrepareKey(const QString& memo) {
        prompt.OnShowModal([memo](QDialog& dialog) {
            auto& form = static_cast<TForm4&>(dialog);
            form.Memo1->setPlainText(memo);
            form.O->click();
        });
    }
};

// Confirms the files dialog with the output folder chosen through "Change folder..."
// and, when asked, "Delete ... after ..." checked; `seen` receives its list lines.
std::function<void(QDialog&)> ConfirmFiles(ScriptedPrompt& prompt, const QString& folder,
                                           bool deleteFiles, QStringList* seen = nullptr) {
    return [&prompt, folder, deleteFiles, seen](QDialog& dialog) {
        auto& form = static_cast<TForm3&>(dialog);
        if (seen != nullptr) {
            for (int i = 0; i < form.ListBox1->count(); ++i) {
                seen->append(form.ListBox1->item(i)->text());
            }
        }
        prompt.AnswerFolder(folder);
        form.Button2->click();
        form.CheckBox1->setChecked(deleteFiles);
        form.OK->click();
    };
}

// Drags `paths` onto a page and drops them there; whether the page took them.
bool Drop(QWidget* page, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(path);
    }
    mime.setUrls(urls);
    const QPoint at(page->width() / 2, page->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(page, &enter);
    const bool accepted = enter.isAccepted();
    QDropEvent dropEvent(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(page, &dropEvent);
    QCoreApplication::processEvents();
    return accepted;
}

// The header of an encoded file: everything up to and including its third line end.
QString Header(const QString& path) {
    const QByteArray bytes = ReadAll(path);
    qsizetype end = -1;
    for (int line = 0; line < 3; ++line) {
        end = bytes.indexOf('\n', end + 1);
        if (end < 0) {
            return {};
        }
    }
    return QString::fromLatin1(bytes.left(end + 1));
}

}  // namespace

class CodingPagesTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void dialogsAsDesigned();
    void memoKeyLines();
    void encodeThreeFiles();
    void encodeRefusalsAndCancel();
    void encodeFailuresKeepOriginals();
    void decodeByVoice();
    void decodeByKey();
    void decodeRefusals();
    void choosingEncodedFiles();
    void otherUsersFileInBatch();
    void lossGuard();
    void droppedFiles();
    void batchOnAWorker();
    void cancelStopsTheBatch_data();
    void cancelStopsTheBatch();
    void closingDuringABatch();
    void closingHoldsTheBatchWhileAsking();
    void protectedUser();

private:
    // A fresh folder under the scratch folder.
    QString Folder(const QString& name) {
        const QString folder = scratch_.filePath(name);
        QDir().mkpath(folder);
        return QDir::toNativeSeparators(folder);
    }
    // Plain files a.txt (13 bytes), b.bin (16) and c (0) in a fresh folder.
    QStringList PlainFiles(const QString& name) {
        const QString folder = Folder(name);
        const QStringList files{folder + kSep + QStringLiteral("a.txt"),
                                folder + kSep + QStringLiteral("b.bin"),
                                folder + kSep + QStringLiteral("c")};
        WriteAll(files[0], Content(13, 'a'));
        WriteAll(files[1], Content(16, 'b'));
        WriteAll(files[2], QByteArray());
        return files;
    }
    // Files f1.bin, f2.bin and f3.bin of 9 MiB each in a fresh folder: long enough that
    // Pr1 moves several times within each file.
    QStringList LargeFiles(const QString& name) {
        const QString folder = Folder(name);
        QStringList files;
        for (const char* file : {"f1.bin", "f2.bin", "f3.bin"}) {
            files << folder + kSep + QString::fromLatin1(file);
            WriteAll(files.last(), QByteArray(9 << 20, file[1]));
        }
        return files;
    }
    // Calls `hook` with each new position of Pr1 while the window is alive.
    static void OnProgress(Session& s, std::function<void(int)> hook) {
        QObject::connect(s.ui().Pr1, &QProgressBar::valueChanged, s.ui().Pr1, std::move(hook));
    }
    static QPushButton* CancelButton(Session& s) {
        return s.form1->findChild<QPushButton*>(QStringLiteral("CancelBatch"));
    }
    // Encodes `files` for `user` through the Encode page into `folder`.
    void Encode(Session& s, const QString& user, const QStringList& files, const QString& folder) {
        s.ui().ComboBox2->setEditText(user);
        s.prompt.AnswerOpenFiles(files);
        s.prompt.OnShowModal(ConfirmFiles(s.prompt, folder, false));
        s.Click(s.ui().Button5);
    }

    QTemporaryDir scratch_;
    std::filesystem::path speakers_;
    Samples annaVoice_;  // a fourth phrase of anna's voice
    Samples bobVoice_;   // the same phrase in bob's voice
    quorvane::UserKey annaKey_{};
    quorvane::UserKey bobKey_{};
};

void CodingPagesTest::initTestCase() {
    QVERIFY(scratch_.isValid());
    const QStringList anna{QStringLiteral("-v"), QStringLiteral("en"), QStringLiteral("-s"),
                           QStringLiteral("130")};
    const QStringList bob{QStringLiteral("-v"), QStringLiteral("en-us+f3"), QStringLiteral("-p"),
                          QStringLiteral("80"), QStringLiteral("-s"),       QStringLiteral("130")};
    const std::array<QString, 3> phrases{
        QStringLiteral("The quick brown fox jumps over the lazy dog near the river bank today"),
        QStringLiteral("My voice is my password and it opens every door in this house"),
        QStringLiteral("Seven green apples fell from the old tree during the autumn storm")};
    const QString verification = QStringLiteral(
        "Please let me open my encrypted files with my own spoken words, "
        "because nobody else should ever read them");
    speakers_ = ToPath(Folder(QStringLiteral("Speakers")));

    // Enrols a user as the Study page would: three phrases (each without its first
    // 400 samples, as a recording is kept), the Low threshold, the speaker file.
    const auto enrol = [&](const QString& user, const QStringList& voice) {
        std::array<quorvane::VoiceCodebook, 3> codebooks;
        for (std::size_t i = 0; i < phrases.size(); ++i) {
            const Samples spoken =
                Speak(scratch_.path(), user + QString::number(i), voice, phrases[i]);
            if (spoken.size() < 20000) {
                return false;
            }
            const std::span<const std::int16_t> kept(spoken.begin() + 400, spoken.end());
            quorvane::NullProgress progress;
            quorvane::SilentNotifier notifier;
            if (!quorvane::TrainCodebook(codebooks[i], kept, static_cast<std::int32_t>(kept.size()),
                                         quorvane::kSampleRate, quorvane::kMaxCodewords, progress,
                                         notifier)) {
                return false;
            }
        }
        const float threshold = quorvane::ComputeThreshold(codebooks, 2);
        quorvane::SilentNotifier notifier;
        if (quorvane::StoreUserFiles(speakers_, user.toStdString(), codebooks, threshold,
                                     notifier) != 1) {
            return false;
        }
        (user == QStringLiteral("anna") ? annaKey_ : bobKey_) = quorvane::DeriveUserKey(codebooks);
        return true;
    };
    QVERIFY2(enrol(QStringLiteral("anna"), anna), "espeak-ng and sox must be installed");
    QVERIFY(enrol(QStringLiteral("bob"), bob));
    QVERIFY(annaKey_ != bobKey_);
    annaVoice_ = Speak(scratch_.path(), QStringLiteral("anna4"), anna, verification);
    bobVoice_ = Speak(scratch_.path(), QStringLiteral("bob4"), bob, verification);
    QVERIFY(annaVoice_.size() > 20000 && bobVoice_.size() > 20000);
}

void CodingPagesTest::dialogsAsDesigned() {
    TForm3 files;
    QCOMPARE(files.windowTitle(), QStringLiteral("Files for encoding"));
    QCOMPARE(files.GroupBox1->title(), QStringLiteral("Encoding files"));
    QCOMPARE(files.Label1->text(), QStringLiteral("Users name"));
    QCOMPARE(files.Label2->text(), QStringLiteral("Selected files"));
    QCOMPARE(files.CheckBox1->text(), QStringLiteral("Delete original files after encoding"));
    QCOMPARE(files.Label3->text(), QStringLiteral("Write encoded files to folder:"));
    QCOMPARE(files.Button2->text(), QStringLiteral("Change folder..."));
    QCOMPARE(files.OK->text(), QStringLiteral("OK"));
    QCOMPARE(files.Button1->text(), QStringLiteral("Cancel"));
    QVERIFY(!files.Edit1->isEnabled());
    QVERIFY(!files.Edit2->isEnabled());
    QCOMPARE(files.minimumSize(), files.maximumSize());
    // Without a prompt, "Change folder..." leaves the folder alone.
    files.Edit2->setText(QStringLiteral("somewhere"));
    files.Button2->click();
    QCOMPARE(files.Edit2->text(), QStringLiteral("somewhere"));

    TForm4 key;
    QCOMPARE(key.windowTitle(), QStringLiteral("Security key"));
    QCOMPARE(key.GroupBox1->title(), QStringLiteral("Security key"));
    QCOMPARE(key.Label1->text(), QStringLiteral("Your name:"));
    QCOMPARE(key.Label2->text(), QStringLiteral("Enter your security key"));
    QCOMPARE(key.O->text(), QStringLiteral("OK"));
    QCOMPARE(key.Button2->text(), QStringLiteral("Cancel"));
    QVERIFY(!key.Edit1->isEnabled());
    QCOMPARE(key.minimumSize(), key.maximumSize());
}

void CodingPagesTest::memoKeyLines() {
    // Memo lines: none when empty; a final line end starts no further line.
    TForm4 form;
    QVERIFY(form.KeyLines().isEmpty());
    form.Memo1->setPlainText(QStringLiteral("1\n2\n"));
    QCOMPARE(form.KeyLines(), (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    form.Memo1->setPlainText(QStringLiteral("1\n\n3"));
    QCOMPARE(form.KeyLines().size(), 3);
}

void CodingPagesTest::encodeThreeFiles() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    QCOMPARE(s.form1->users.List().size(), std::size_t{2});
    const QStringList files = PlainFiles(QStringLiteral("enc-src"));
    const QString out = Folder(QStringLiteral("enc-out"));

    ui.ComboBox2->setEditText(QStringLiteral("anna"));
    prompt.AnswerOpenFiles(files);
    QStringList lines;
    QString edit2AtOpening;
    prompt.OnShowModal([&](QDialog& dialog) {
        auto& form = static_cast<TForm3&>(dialog);
        QCOMPARE(form.windowTitle(), QStringLiteral("Files for encoding"));
        QCOMPARE(form.GroupBox1->title(), QStringLiteral("Encoding files"));
        QCOMPARE(form.Label1->text(), QStringLiteral("Users name"));
        QCOMPARE(form.Label2->text(), QStringLiteral("Selected files"));
        QCOMPARE(form.Label3->text(), QStringLiteral("Write encoded files to folder:"));
        QCOMPARE(form.CheckBox1->text(), QStringLiteral("Delete original files after encoding"));
        QVERIFY(!form.CheckBox1->isChecked());
        QCOMPARE(form.Button2->text(), QStringLiteral("Change folder..."));
        QCOMPARE(form.Edit1->text(), QStringLiteral("anna"));
        QVERIFY(!form.Edit1->isEnabled());
        QVERIFY(!form.Edit2->isEnabled());
        edit2AtOpening = form.Edit2->text();
        ConfirmFiles(prompt, out, false, &lines)(dialog);
    });
    QSignalSpy progress(ui.Pr1, &QProgressBar::valueChanged);
    s.Click(ui.Button5);
    // Pr1 counts the bytes done in per mille (13 of 29 bytes, then all), then goes back to 0.
    QList<int> positions;
    for (const QList<QVariant>& change : progress) {
        positions << change.at(0).toInt();
    }
    QCOMPARE(positions, (QList<int>{448, 1000, 0}));
    QCOMPARE(ui.Pr1->maximum(), BatchRunner::kProgressScale);

    QCOMPARE(lines,
             (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.bin"), QStringLiteral("c")}));
    QCOMPARE(edit2AtOpening, Folder(QStringLiteral("enc-src")));
    QVERIFY(prompt.Messages().isEmpty());
    const std::vector<ScriptedPrompt::Entry> opened = prompt.Of(Kind::OpenFiles);
    QCOMPARE(opened.size(), std::size_t{1});
    QCOMPARE(opened[0].options.title, QStringLiteral("Open files for encoding"));
    QVERIFY(opened[0].options.multiple);
    // The chooser started at the source folder; the batch appended a separator.
    const std::vector<ScriptedPrompt::Entry> chooser = prompt.Of(Kind::ChooseFolder);
    QCOMPARE(chooser.size(), std::size_t{1});
    QCOMPARE(s.form3->Edit2->text(), out + kSep);
    QCOMPARE(ui.Pr1->value(), 0);

    // Header: name + "cryptedfile", block count, pad count; then the blocks.
    QCOMPARE(Header(out + kSep + QStringLiteral("a.txt.crp")),
             QStringLiteral("annacryptedfile\n2\n3\n"));
    // After the blocks, the check value.
    const auto trailer = static_cast<qsizetype>(quorvane::kTrailerBytes);
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("a.txt.crp")).size(), 20 + 16 + trailer);
    QCOMPARE(Header(out + kSep + QStringLiteral("b.bin.crp")),
             QStringLiteral("annacryptedfile\n2\n0\n"));
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("b.bin.crp")).size(), 20 + 16 + trailer);
    const QByteArray empty = ReadAll(out + kSep + QStringLiteral("c.crp"));
    QVERIFY(empty.startsWith("annacryptedfile\n0\n0\n"));
    QCOMPARE(empty.size(), 20 + trailer);
    // The originals stay; the cipher text is not the plain text.
    for (const QString& file : files) {
        QVERIFY(QFile::exists(file));
    }
    QVERIFY(!ReadAll(out + kSep + QStringLiteral("a.txt.crp")).contains(Content(8, 'a')));

    // The same file again gives the same bytes (no salt, key from the stored models).
    const QByteArray first = ReadAll(out + kSep + QStringLiteral("a.txt.crp"));
    const QString again = Folder(QStringLiteral("enc-again"));
    Encode(s, QStringLiteral("anna"), {files[0]}, again);
    QCOMPARE(ReadAll(again + kSep + QStringLiteral("a.txt.crp")), first);
    // Another user's key gives other bytes under the other name, once the user agreed to
    // replace the existing file.
    prompt.AnswerReplace(Prompt::ReplaceAnswer::Yes);
    Encode(s, QStringLiteral("bob"), {files[0]}, again);
    const QByteArray bobs = ReadAll(again + kSep + QStringLiteral("a.txt.crp"));
    QVERIFY(bobs.startsWith("bobcryptedfile\n2\n3\n"));
    QVERIFY(bobs.mid(19) != first.mid(20));
    QCOMPARE(prompt.Messages(),
             QStringList{QStringLiteral("File ") + again + kSep +
                         QStringLiteral("a.txt.crp already exists. Do you want to replace it?")});
}

void CodingPagesTest::encodeRefusalsAndCancel() {
    {
        ScriptedPrompt prompt;
        Session s(prompt, ToPath(Folder(QStringLiteral("nobody"))));
        s.ui().ComboBox2->setEditText(QStringLiteral("anna"));
        s.Click(s.ui().Button5);
        QCOMPARE(prompt.Messages(), QStringList{QStringLiteral("There are no registered users")});
        QVERIFY(prompt.Of(Kind::OpenFiles).empty());
    }
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("refuse-src"));
    // Names compare case-sensitively.
    ui.ComboBox2->setEditText(QStringLiteral("Anna"));
    s.Click(ui.Button5);
    ui.ComboBox2->setEditText(QString());
    s.Click(ui.Button5);
    QCOMPARE(
        prompt.Messages(),
        (QStringList{
            QStringLiteral("User with such name was not found in the list of registered users"),
            QStringLiteral("User with such name was not found in the list of registered users")}));
    QVERIFY(prompt.Of(Kind::OpenFiles).empty());

    // A cancelled open dialog shows nothing more.
    prompt.ClearShown();
    ui.ComboBox2->setEditText(QStringLiteral("anna"));
    s.Click(ui.Button5);
    QCOMPARE(prompt.Of(Kind::OpenFiles).size(), std::size_t{1});
    QVERIFY(prompt.Of(Kind::ShowModal).empty());

    // A cancelled files dialog encodes nothing and leaves Pr1 at 0.
    ui.Pr1->setRange(0, 10);
    ui.Pr1->setValue(5);
    prompt.AnswerOpenFiles(files);
    prompt.OnShowModal([](QDialog& dialog) { static_cast<TForm3&>(dialog).Button1->click(); });
    s.Click(ui.Button5);
    QCOMPARE(ui.Pr1->value(), 0);
    QVERIFY(!QFile::exists(files[0] + QStringLiteral(".crp")));
    QVERIFY(prompt.Messages().isEmpty());

    // A cancelled folder chooser leaves the folder as it was: the files go beside
    // the originals, and the check box is unchecked again at the next opening.
    prompt.AnswerOpenFiles(files);
    prompt.OnShowModal([](QDialog& dialog) {
        auto& form = static_cast<TForm3&>(dialog);
        const QString before = form.Edit2->text();
        form.Button2->click();  // no folder answer prepared: the chooser is cancelled
        QCOMPARE(form.Edit2->text(), before);
        form.CheckBox1->setChecked(true);
        form.Button1->click();
    });
    s.Click(ui.Button5);
    prompt.AnswerOpenFiles({files[0]});
    bool uncheckedAgain = false;
    prompt.OnShowModal([&](QDialog& dialog) {
        uncheckedAgain = !static_cast<TForm3&>(dialog).CheckBox1->isChecked();
    });
    s.Click(ui.Button5);
    QVERIFY(uncheckedAgain);
    QVERIFY(QFile::exists(files[0] + QStringLiteral(".crp")));
    QVERIFY(QFile::exists(files[0]));
}

void CodingPagesTest::encodeFailuresKeepOriginals() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("fail-src"));
    const QString missing = Folder(QStringLiteral("fail-src")) + kSep + QStringLiteral("gone.txt");
    const QString nowhere = scratch_.filePath(QStringLiteral("no-such-folder"));

    // An output folder that does not exist: every file fails, none is deleted.
    ui.ComboBox2->setEditText(QStringLiteral("anna"));
    prompt.AnswerOpenFiles(files);
    prompt.OnShowModal(ConfirmFiles(prompt, nowhere, true));
    s.Click(ui.Button5);
    QStringList expected;
    for (const QString& file : files) {
        expected << QStringLiteral("File ") + file +
                        QStringLiteral(" can not be encoded. Please check the path of output file");
    }
    QCOMPARE(FirstLines(prompt.Messages()), expected);
    // Each with the system's reason on a line of its own.
    for (const QString& message : prompt.Messages()) {
        QCOMPARE(message.count(QLatin1Char('\n')), 1);
        QVERIFY(!message.endsWith(QLatin1Char('\n')));
    }
    for (const QString& file : files) {
        QVERIFY(QFile::exists(file));
    }
    QCOMPARE(ui.Pr1->value(), 0);

    // With deletion: a missing source is reported, the batch goes on, and each
    // other original is removed after its own ".crp" file is complete.
    prompt.ClearShown();
    const QString out = Folder(QStringLiteral("fail-out"));
    prompt.AnswerOpenFiles({files[0], missing, files[1]});
    prompt.OnShowModal(ConfirmFiles(prompt, out, true));
    s.Click(ui.Button5);
    QCOMPARE(prompt.Messages(), QStringList{missing + QStringLiteral(": no such file")});
    QVERIFY(!QFile::exists(files[0]));
    QVERIFY(!QFile::exists(files[1]));
    QVERIFY(QFile::exists(files[2]));
    QVERIFY(QFile::exists(out + kSep + QStringLiteral("a.txt.crp")));
    QVERIFY(QFile::exists(out + kSep + QStringLiteral("b.bin.crp")));
    QVERIFY(!QFile::exists(out + kSep + QStringLiteral("gone.txt.crp")));
}

void CodingPagesTest::decodeByVoice() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("voice-src"));
    const QString encoded = Folder(QStringLiteral("voice-enc"));
    Encode(s, QStringLiteral("anna"), files, encoded);
    const QStringList crp{encoded + kSep + QStringLiteral("a.txt.crp"),
                          encoded + kSep + QStringLiteral("b.bin.crp"),
                          encoded + kSep + QStringLiteral("c.crp")};

    ui.PageControl1->setCurrentIndex(2);
    QCOMPARE(ui.Button7->text(), QStringLiteral("Recognize/Decode..."));
    s.ChooseForDecoding(crp);
    const std::vector<ScriptedPrompt::Entry> opened = prompt.Of(Kind::OpenFiles);
    QVERIFY(opened.back().options.multiple);
    QCOMPARE(opened.back().options.filter, QStringLiteral("Encoded files (*.crp);;All files (*)"));
    QVERIFY(ui.ComboBox3->isEnabled());
    QVERIFY(ui.ComboBox3->currentText().isEmpty());
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.Record(annaVoice_);
    QVERIFY(s.form1->enrolment.RecordedCount() > 0);

    const QString out = Folder(QStringLiteral("voice-out"));
    QStringList lines;
    prompt.OnShowModal([&](QDialog& dialog) {
        auto& form = static_cast<TForm3&>(dialog);
        QCOMPARE(ui.Label4->text(), QStringLiteral("Result:Positive"));
        QCOMPARE(ui.Label4->palette().color(QPalette::WindowText), kGreen);
        QCOMPARE(form.windowTitle(), QStringLiteral("Files for decoding"));
        QCOMPARE(form.GroupBox1->title(), QStringLiteral("Decoding files"));
        QCOMPARE(form.CheckBox1->text(), QStringLiteral("Delete encoded files after decoding"));
        QCOMPARE(form.Label3->text(), QStringLiteral("Write decoded files to folder:"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("anna"));
        QCOMPARE(form.Edit2->text(), encoded);
        ConfirmFiles(prompt, out, false, &lines)(dialog);
    });
    prompt.ClearShown();
    s.Click(ui.Button7);
    QCOMPARE(prompt.Messages(), QStringList{});
    QCOMPARE(lines, (QStringList{QStringLiteral("a.txt.crp"), QStringLiteral("b.bin.crp"),
                                 QStringLiteral("c.crp")}));
    for (const QString& file : files) {
        const QString name = QFileInfo(file).fileName();
        QCOMPARE(ReadAll(out + kSep + name), ReadAll(file));
        QVERIFY(QFile::exists(out + kSep + name));
    }
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result:Positive"));
    QCOMPARE(ui.Pr1->value(), 0);
    for (const QString& file : crp) {
        QVERIFY(QFile::exists(file));
    }

    // The recording is still held: another click verifies again. With deletion the
    // encoded files go once their plain files are complete.
    const QString out2 = Folder(QStringLiteral("voice-out2"));
    prompt.OnShowModal(ConfirmFiles(prompt, out2, true));
    s.Click(ui.Button7);
    QCOMPARE(prompt.Messages(), QStringList{});
    for (const QString& file : files) {
        QCOMPARE(ReadAll(out2 + kSep + QFileInfo(file).fileName()), ReadAll(file));
    }
    for (const QString& file : crp) {
        QVERIFY(!QFile::exists(file));
    }
}

void CodingPagesTest::decodeByKey() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("key-src"));
    const QString encoded = Folder(QStringLiteral("key-enc"));
    Encode(s, QStringLiteral("anna"), files, encoded);

    // Switching the decoding type changes Button7's caption.
    s.Click(ui.RadioGroup3_1);
    QCOMPARE(s.form1->RadioGroup3ItemIndex(), 1);
    QCOMPARE(ui.Button7->text(), QStringLiteral("Enter key..."));
    s.Click(ui.RadioGroup3_0);
    QCOMPARE(ui.Button7->text(), QStringLiteral("Recognize/Decode..."));
    s.Click(ui.RadioGroup3_1);

    // One file: the owner's name from its header, the box disabled.
    s.ChooseForDecoding({encoded + kSep + QStringLiteral("a.txt.crp")});
    QCOMPARE(ui.ComboBox3->currentText(), QStringLiteral("anna"));
    QVERIFY(!ui.ComboBox3->isEnabled());

    // The key file's eight numbers, then two lines more that are ignored.
    const QString out = Folder(QStringLiteral("key-out"));
    bool memoEmptyAtOpening = false;
    prompt.OnShowModal([&](QDialog& dialog) {
        auto& form = static_cast<TForm4&>(dialog);
        QCOMPARE(form.windowTitle(), QStringLiteral("Security key"));
        QCOMPARE(form.Edit1->text(), QStringLiteral("anna"));
        QVERIFY(!form.Edit1->isEnabled());
        memoEmptyAtOpening = form.Memo1->toPlainText().isEmpty();
        form.Memo1->setPlainText(KeyLines(annaKey_) + QStringLiteral("junk\nmore junk\n"));
        form.O->click();
    });
    prompt.OnShowModal(ConfirmFiles(prompt, out, false));
    s.Click(ui.Button7);
    QVERIFY(memoEmptyAtOpening);
    QVERIFY(prompt.Messages().isEmpty());
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("a.txt")), ReadAll(files[0]));
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result"));

    // Several files: the name typed; the key with blanks and a final line end.
    s.ChooseForDecoding(
        {encoded + kSep + QStringLiteral("b.bin.crp"), encoded + kSep + QStringLiteral("c.crp")});
    QVERIFY(ui.ComboBox3->isEnabled());
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    QString padded;
    for (const std::uint32_t word : annaKey_) {
        padded += QStringLiteral("  ") + QString::number(static_cast<std::int32_t>(word)) +
                  QStringLiteral(" \n");
    }
    s.PrepareKey(padded);
    prompt.OnShowModal(ConfirmFiles(prompt, out, false));
    s.Click(ui.Button7);
    QVERIFY(prompt.Messages().isEmpty());
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("b.bin")), ReadAll(files[1]));
    QVERIFY(QFile::exists(out + kSep + QStringLiteral("c")));
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("c")).size(), 0);
    QCOMPARE(ui.Pr1->value(), 0);

    // A cancelled key dialog stops before the files dialog.
    prompt.ClearShown();
    prompt.OnShowModal([](QDialog& dialog) { static_cast<TForm4&>(dialog).Button2->click(); });
    s.Click(ui.Button7);
    QCOMPARE(prompt.Of(Kind::ShowModal).size(), std::size_t{1});
    QVERIFY(prompt.Messages().isEmpty());
}

void CodingPagesTest::decodeRefusals() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("ref-src"));
    const QString encoded = Folder(QStringLiteral("ref-enc"));
    Encode(s, QStringLiteral("anna"), files, encoded);
    const QStringList crp{encoded + kSep + QStringLiteral("a.txt.crp"),
                          encoded + kSep + QStringLiteral("b.bin.crp")};
    prompt.ClearShown();

    // Right after start nothing is chosen, and no name can be typed.
    QVERIFY(!ui.ComboBox3->isEnabled());
    s.Click(ui.Button7);
    // Several files: the box is enabled and empty.
    s.ChooseForDecoding(crp);
    s.Click(ui.Button7);
    ui.ComboBox3->setEditText(QStringLiteral("nobody"));
    s.Click(ui.Button7);
    ui.ComboBox3->setEditText(QStringLiteral("Anna"));
    s.Click(ui.Button7);
    // Recording before choosing: choosing drops the recording.
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.Record(annaVoice_);
    QVERIFY(s.form1->enrolment.RecordedCount() > 0);
    s.ChooseForDecoding(crp);
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.Click(ui.Button7);
    // Half a second of tone: accepted as a recording, far too short for a model.
    s.Record(Square(6400, 10000));
    QCOMPARE(s.form1->enrolment.RecordedCount(), 6000);
    s.Click(ui.Button7);
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result"));
    // Another voice: a negative verdict in red, no dialog.
    s.Record(bobVoice_);
    s.Click(ui.Button7);
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result: Negative"));
    QCOMPARE(ui.Label4->palette().color(QPalette::WindowText), kRed);
    QCOMPARE(ui.Label4->accessibleDescription(), QStringLiteral("Result: Negative"));
    QVERIFY(prompt.Of(Kind::ShowModal).empty());

    // The key path: seven lines, a line that is no number, the key file as a whole.
    s.Click(ui.RadioGroup3_1);
    QStringList seven = KeyLines(annaKey_).split(QLatin1Char('\n'));
    seven.resize(7);
    s.PrepareKey(seven.join(QLatin1Char('\n')));
    s.Click(ui.Button7);
    // The verdict is reset to green "Result" by each click.
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result"));
    QCOMPARE(ui.Label4->palette().color(QPalette::WindowText), kGreen);
    s.PrepareKey(QStringLiteral("1\n2\n3\n12x\n5\n6\n7\n8\n"));
    s.Click(ui.Button7);
    s.PrepareKey(QString::fromStdString(quorvane::FormatKeyFile("anna", annaKey_)));
    s.Click(ui.Button7);
    // A cancelled open dialog leaves no file chosen.
    s.ChooseForDecoding({});
    s.Click(ui.Button7);

    QCOMPARE(prompt.Messages(),
             (QStringList{
                 QStringLiteral("Select file(s) for decoding first."),
                 QStringLiteral("Enter your name first"),
                 QStringLiteral("User nobody was not found in the list of registered users"),
                 QStringLiteral("User Anna was not found in the list of registered users"),
                 QStringLiteral("Please record phrase for your verification first"),
                 QStringLiteral("Too little feature vectors, please repeat recording"),
                 QStringLiteral("Security key must be 8 digits"),
                 QStringLiteral("'12x' is not a valid integer value"),
                 QStringLiteral("'Users name: anna' is not a valid integer value"),
                 QStringLiteral("Select file(s) for decoding first."),
             }));
    // Only the three key dialogs were shown; nothing was decoded.
    QCOMPARE(prompt.Of(Kind::ShowModal).size(), std::size_t{3});
    QVERIFY(!QFile::exists(encoded + kSep + QStringLiteral("a.txt")));
    QCOMPARE(ui.Pr1->value(), 0);
}

void CodingPagesTest::choosingEncodedFiles() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QString folder = Folder(QStringLiteral("choose"));
    const QString plain = folder + kSep + QStringLiteral("plain.txt");
    const QString middle = folder + kSep + QStringLiteral("middle.crp");
    const QString missing = folder + kSep + QStringLiteral("missing.crp");
    WriteAll(plain, "hello world, no marker here\n");
    WriteAll(middle, "zoecryptedfileXY\n1\n0\n12345678");

    // A good single file first: the name comes from the header.
    s.ChooseForDecoding({middle});
    QCOMPARE(ui.ComboBox3->currentText(), QStringLiteral("zoecr"));
    QVERIFY(!ui.ComboBox3->isEnabled());
    // A refused single file leaves the box as it was (the owner rules are the workflow's).
    s.ChooseForDecoding({plain});
    // A file that cannot be read changes nothing else: the recording and the verdict stay.
    s.Record(bobVoice_);
    QVERIFY(s.form1->enrolment.RecordedCount() > 0);
    ui.Label4->setText(QStringLiteral("Result: Negative"));
    s.ChooseForDecoding({missing});
    QVERIFY(s.form1->enrolment.RecordedCount() > 0);
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result: Negative"));
    QCOMPARE(prompt.Messages(), (QStringList{plain + QStringLiteral(": This file was not encoded"),
                                             missing + QStringLiteral(": no such file")}));
    QCOMPARE(ui.ComboBox3->currentText(), QStringLiteral("zoecr"));
    QVERIFY(!ui.ComboBox3->isEnabled());

    // The verdict resets to green "Result" at each choice.
    s.ChooseForDecoding({middle, plain});
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.Record(bobVoice_);
    s.Click(ui.Button7);
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result: Negative"));
    s.ChooseForDecoding({middle, plain});
    QCOMPARE(ui.Label4->text(), QStringLiteral("Result"));
    QCOMPARE(ui.Label4->palette().color(QPalette::WindowText), kGreen);
}

void CodingPagesTest::otherUsersFileInBatch() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("mix-src"));
    const QString annas = Folder(QStringLiteral("mix-anna"));
    const QString bobs = Folder(QStringLiteral("mix-bob"));
    Encode(s, QStringLiteral("anna"), {files[0], files[1]}, annas);
    Encode(s, QStringLiteral("bob"), {files[2]}, bobs);
    // Put bob's file among anna's, and a file whose name leaves no output name.
    const QString bobsFile = annas + kSep + QStringLiteral("c.crp");
    QVERIFY(QFile::copy(bobs + kSep + QStringLiteral("c.crp"), bobsFile));
    const QString tiny = annas + kSep + QStringLiteral(".crp");
    QVERIFY(QFile::copy(annas + kSep + QStringLiteral("a.txt.crp"), tiny));
    prompt.ClearShown();

    s.ChooseForDecoding({annas + kSep + QStringLiteral("a.txt.crp"), bobsFile, tiny,
                         annas + kSep + QStringLiteral("b.bin.crp")});
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.Record(annaVoice_);
    const QString out = Folder(QStringLiteral("mix-out"));
    prompt.OnShowModal(ConfirmFiles(prompt, out, true));
    s.Click(ui.Button7);
    const QString decodeFailure = QStringLiteral(
        " can not be decoded. Please check the path of output file or this file can be encoded by "
        "other user");
    QCOMPARE(FirstLines(prompt.Messages()),
             (QStringList{QStringLiteral("File ") + bobsFile + decodeFailure,
                          QStringLiteral("File ") + tiny + decodeFailure}));
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("a.txt")), ReadAll(files[0]));
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("b.bin")), ReadAll(files[1]));
    QVERIFY(!QFile::exists(out + kSep + QStringLiteral("c")));
    // Only the decoded files were deleted.
    QVERIFY(!QFile::exists(annas + kSep + QStringLiteral("a.txt.crp")));
    QVERIFY(!QFile::exists(annas + kSep + QStringLiteral("b.bin.crp")));
    QVERIFY(QFile::exists(bobsFile));
    QVERIFY(QFile::exists(tiny));
    QCOMPARE(ui.Pr1->value(), 0);
}

void CodingPagesTest::lossGuard() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("guard-src"));
    const QString encoded = Folder(QStringLiteral("guard-enc"));
    Encode(s, QStringLiteral("anna"), {files[0], files[1]}, encoded);
    const QStringList crp{encoded + kSep + QStringLiteral("a.txt.crp"),
                          encoded + kSep + QStringLiteral("b.bin.crp")};
    prompt.ClearShown();
    s.Click(ui.RadioGroup3_1);

    const QString decodeFailure = QStringLiteral(
        " can not be decoded. Please check the path of output file or this file can be encoded by "
        "other user");

    // A mistyped word onto files the user already has: the check values refuse the key, the
    // user's files stay as they were and the encoded files stay.
    quorvane::UserKey wrong = annaKey_;
    wrong[3] += 1;
    const QString out = Folder(QStringLiteral("guard-out"));
    WriteAll(out + kSep + QStringLiteral("a.txt"), "edited by the user");
    s.ChooseForDecoding(crp);
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.PrepareKey(KeyLines(wrong));
    prompt.OnShowModal(ConfirmFiles(prompt, out, true));
    prompt.AnswerReplace(Prompt::ReplaceAnswer::Yes);
    s.Click(ui.Button7);
    // The check value proved the key wrong: the message says so first, and the key is tested
    // before the question to replace a.txt, which is not asked.
    const QString wrongKey = QStringLiteral(
        "The key does not fit this file, or the file is damaged: nothing was written\nFile ");
    QCOMPARE(prompt.Messages(),
             (QStringList{wrongKey + crp[0] + decodeFailure, wrongKey + crp[1] + decodeFailure}));
    QVERIFY(prompt.Of(Kind::Replace).empty());
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("a.txt")), QByteArray("edited by the user"));
    QVERIFY(!QFile::exists(out + kSep + QStringLiteral("b.bin")));
    for (const QString& file : crp) {
        QVERIFY(QFile::exists(file));
    }

    // Another user's key under anna's name: refused as well.
    prompt.ClearShown();
    s.PrepareKey(KeyLines(bobKey_));
    prompt.OnShowModal(ConfirmFiles(prompt, out, true));
    s.Click(ui.Button7);
    QCOMPARE(prompt.Messages().size(), 2);  // both refused, nothing asked
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("a.txt")), QByteArray("edited by the user"));
    for (const QString& file : crp) {
        QVERIFY(QFile::exists(file));
    }

    // A name not registered (a removed user): the saved key still decodes, and the file's
    // own check value proves it, so the encoded file may go.
    const QString copy = encoded + kSep + QStringLiteral("copy.crp");
    QVERIFY(quorvane::EncodeFile(ToPath(files[0]), ToPath(copy), "zedcryptedfile", annaKey_,
                                 quorvane::FileSubstitutionTable) == 1);
    prompt.ClearShown();
    s.ChooseForDecoding({copy});
    QCOMPARE(ui.ComboBox3->currentText(), QStringLiteral("zed"));
    const QString out2 = Folder(QStringLiteral("guard-out2"));
    s.PrepareKey(KeyLines(annaKey_));
    prompt.OnShowModal(ConfirmFiles(prompt, out2, true));
    s.Click(ui.Button7);
    QCOMPARE(ReadAll(out2 + kSep + QStringLiteral("copy")), ReadAll(files[0]));
    QVERIFY(!QFile::exists(copy));
    QVERIFY(prompt.Messages().isEmpty());

    // A file whose check value was cut off, with a mistyped key: the window asks before
    // decoding it, No by default (a warning), and then decodes nothing.
    const QString old = encoded + kSep + QStringLiteral("old.crp");
    QVERIFY(quorvane::EncodeFileWithoutTrailer(ToPath(files[1]), ToPath(old), "annacryptedfile",
                                               annaKey_, quorvane::FileSubstitutionTable));
    const QString question =
        QString::fromStdString(quorvane::UnverifiedQuestion(quorvane::PathText(ToPath(old))));
    prompt.ClearShown();
    s.ChooseForDecoding({old});
    s.PrepareKey(KeyLines(wrong));
    prompt.OnShowModal(ConfirmFiles(prompt, out2, true));
    s.Click(ui.Button7);
    const std::vector<ScriptedPrompt::Entry> asked = prompt.Of(Kind::Question);
    QCOMPARE(asked.size(), std::size_t{1});
    QCOMPARE(asked[0].text, question);
    QVERIFY(asked[0].icon == Prompt::Icon::Warning);
    QVERIFY(!QFile::exists(out2 + kSep + QStringLiteral("old")));
    QVERIFY(s.form1->StatusText().startsWith(QStringLiteral("0 of 1 file decoded")));
    QVERIFY(QFile::exists(old));

    // Yes decodes it, and it is kept, told once.
    QFile::remove(out2 + kSep + QStringLiteral("old"));
    prompt.ClearShown();
    prompt.AnswerQuestion(true);
    s.PrepareKey(KeyLines(annaKey_));
    prompt.OnShowModal(ConfirmFiles(prompt, out2, true));
    s.Click(ui.Button7);
    QCOMPARE(ReadAll(out2 + kSep + QStringLiteral("old")), ReadAll(files[1]));
    QVERIFY(QFile::exists(old));
    const QString kept = QString::fromUtf8(quorvane::kEncodedKeptMessage.data(),
                                           quorvane::kEncodedKeptMessage.size());
    QCOMPARE(prompt.Messages(), (QStringList{question, kept}));
    prompt.questionAnswers.clear();

    // An output folder that does not exist: nothing decoded, nothing deleted.
    prompt.ClearShown();
    s.ChooseForDecoding(crp);
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.PrepareKey(KeyLines(annaKey_));
    prompt.OnShowModal(
        ConfirmFiles(prompt, scratch_.filePath(QStringLiteral("no-such-output")), true));
    s.Click(ui.Button7);
    QCOMPARE(FirstLines(prompt.Messages()),
             (QStringList{QStringLiteral("File ") + crp[0] + decodeFailure,
                          QStringLiteral("File ") + crp[1] + decodeFailure}));
    for (const QString& file : crp) {
        QVERIFY(QFile::exists(file));
    }

    // The right key of the registered user: decoded and deleted, no message beyond the
    // question before replacing the user's edited file.
    prompt.ClearShown();
    s.ChooseForDecoding(crp);
    ui.ComboBox3->setEditText(QStringLiteral("anna"));
    s.PrepareKey(KeyLines(annaKey_));
    prompt.OnShowModal(ConfirmFiles(prompt, out, true));
    prompt.AnswerReplace(Prompt::ReplaceAnswer::YesToAll);
    s.Click(ui.Button7);
    QCOMPARE(prompt.Of(Kind::Replace).size(), std::size_t{1});
    QCOMPARE(prompt.Messages().size(), 1);
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("a.txt")), ReadAll(files[0]));
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("b.bin")), ReadAll(files[1]));
    for (const QString& file : crp) {
        QVERIFY(!QFile::exists(file));
    }
}

void CodingPagesTest::droppedFiles() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = PlainFiles(QStringLiteral("drop-src"));
    const QString out = Folder(QStringLiteral("drop-out"));

    // Onto the Encode page: the same checks and dialog as "Open file(s) for encoding...".
    ui.PageControl1->setCurrentIndex(1);
    ui.ComboBox2->setEditText(QStringLiteral("nobody"));
    QVERIFY(Drop(ui.TabSheet2, files));
    QCOMPARE(prompt.Messages(),
             QStringList{QStringLiteral(
                 "User with such name was not found in the list of registered users")});
    prompt.ClearShown();
    ui.ComboBox2->setEditText(QStringLiteral("anna"));
    prompt.OnShowModal(ConfirmFiles(prompt, out, false));
    QVERIFY(Drop(ui.TabSheet2, files));
    QVERIFY(prompt.Of(Kind::OpenFiles).empty());
    QCOMPARE(prompt.Of(Kind::ShowModal).size(), std::size_t{1});
    QVERIFY(QFile::exists(out + kSep + QStringLiteral("a.txt.crp")));
    QVERIFY(QFile::exists(out + kSep + QStringLiteral("c.crp")));

    // A folder alone is not taken, nor are files of two folders at once.
    QVERIFY(!Drop(ui.TabSheet2, {out}));
    QVERIFY(!Drop(ui.TabSheet2, {files[0], out + kSep + QStringLiteral("a.txt.crp")}));
    QCOMPARE(prompt.Of(Kind::ShowModal).size(), std::size_t{1});

    // Onto the Decode page: as a choice of "Open file(s) to decode...".
    ui.PageControl1->setCurrentIndex(2);
    s.Record(annaVoice_);
    QVERIFY(Drop(ui.TabSheet3, {out + kSep + QStringLiteral("a.txt.crp")}));
    QCOMPARE(s.form1->enrolment.RecordedCount(), 0);
    QCOMPARE(ui.ComboBox3->currentText(), QStringLiteral("anna"));
    QVERIFY(!ui.ComboBox3->isEnabled());
    s.Click(ui.RadioGroup3_1);
    const QString decoded = Folder(QStringLiteral("drop-dec"));
    s.PrepareKey(KeyLines(annaKey_));
    prompt.OnShowModal(ConfirmFiles(prompt, decoded, false));
    s.Click(ui.Button7);
    QCOMPARE(ReadAll(decoded + kSep + QStringLiteral("a.txt")), ReadAll(files[0]));
    QVERIFY(prompt.Messages().isEmpty());
}

void CodingPagesTest::batchOnAWorker() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QStringList files = LargeFiles(QStringLiteral("work-src"));
    const QString out = Folder(QStringLiteral("work-out"));
    WriteAll(out + kSep + QStringLiteral("f2.bin.crp"), "older");

    // While the batch runs the window answers: Pr1 rises by the bytes of the whole batch,
    // the status names the file in work, Cancel is offered and no other command is, not
    // even by a drop.
    QList<int> positions;
    QStringList statuses;
    bool offered = true;
    bool dropTried = false;
    OnProgress(s, [&](int position) {
        positions << position;
        if (position > 0 && !dropTried) {
            dropTried = true;
            offered = !Drop(ui.TabSheet2, {files[0]});
        }
        if (position > 0) {
            statuses << s.form1->StatusText();
            offered = offered && CancelButton(s)->isVisible() && CancelButton(s)->isEnabled() &&
                      !ui.Button5->isEnabled() && !ui.Button7->isEnabled() &&
                      !ui.BitBtn1->isEnabled();
        }
    });
    // The replace question comes from the batch, on the window's thread, after file 1.
    int replaceAskedAt = -1;
    prompt.onShown = [&](const ScriptedPrompt::Entry& entry) {
        if (entry.kind == Kind::Replace && QThread::currentThread() == qApp->thread() &&
            s.form1->BatchRunning()) {
            replaceAskedAt = ui.Pr1->value();
        }
    };
    prompt.AnswerReplace(Prompt::ReplaceAnswer::Yes);
    Encode(s, QStringLiteral("anna"), files, out);

    QVERIFY(offered);
    QCOMPARE(prompt.Of(Kind::ShowModal).size(), std::size_t{1});
    QCOMPARE(replaceAskedAt, 333);  // 9 of 27 MiB
    QCOMPARE(prompt.Messages(),
             QStringList{QStringLiteral("File ") + out + kSep +
                         QStringLiteral("f2.bin.crp already exists. Do you want to replace it?")});
    QVERIFY(positions.size() > 4);
    QCOMPARE(positions.takeLast(), 0);
    QCOMPARE(positions.last(), BatchRunner::kProgressScale);
    for (int i = 1; i < positions.size(); ++i) {
        QVERIFY(positions[i] > positions[i - 1]);
    }
    // Positions within each file, not only at its end.
    for (const int fileEnd : {333, 666, 1000}) {
        QVERIFY(std::any_of(positions.begin(), positions.end(),
                            [fileEnd](int p) { return p > fileEnd - 333 && p < fileEnd; }));
    }
    const QRegularExpression inWork(
        QStringLiteral("^File ([123]) of 3: f\\1\\.bin( - \\d+ MB/s)?$"));
    for (const QString& status : statuses) {
        QVERIFY2(inWork.match(status).hasMatch(), qPrintable(status));
    }
    QVERIFY(statuses.first().startsWith(QStringLiteral("File 1 of 3")));
    QVERIFY(statuses.last().startsWith(QStringLiteral("File 3 of 3")));
    QCOMPARE(s.form1->StatusText(), QStringLiteral("3 of 3 files encoded into ") + out);
    QVERIFY(QFileInfo(out + kSep + QStringLiteral("f2.bin.crp")).size() > 9 << 20);
    QVERIFY(!CancelButton(s)->isVisible());
    QVERIFY(ui.Button5->isEnabled() && ui.BitBtn1->isEnabled());
    QVERIFY(!s.form1->BatchRunning());
}

void CodingPagesTest::cancelStopsTheBatch_data() {
    QTest::addColumn<bool>("byKey");
    QTest::newRow("Cancel") << false;
    QTest::newRow("Escape") << true;
}

void CodingPagesTest::cancelStopsTheBatch() {
    QFETCH(bool, byKey);
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    Ui::TForm1& ui = s.ui();
    const QString name = byKey ? QStringLiteral("escape") : QStringLiteral("cancel");
    const QStringList files = LargeFiles(name + QStringLiteral("-src"));
    const QString out = Folder(name + QStringLiteral("-out"));

    // Pressed while file 2 is in work, with "Delete original files" checked.
    int pressedAt = -1;
    OnProgress(s, [&](int position) {
        if (pressedAt < 0 && position > 333 && position < 666) {
            pressedAt = position;
            if (byKey) {
                QTest::keyClick(s.form1.get(), Qt::Key_Escape);
            } else {
                s.Click(CancelButton(s));
            }
        }
    });
    ui.ComboBox2->setEditText(QStringLiteral("anna"));
    prompt.AnswerOpenFiles(files);
    prompt.OnShowModal(ConfirmFiles(prompt, out, true));
    s.Click(ui.Button5);
    QVERIFY(pressedAt > 0);

    // File 1 is done and its original gone; file 3 was never begun. File 2 stops where it
    // is and leaves nothing (no output, no temporary, its original kept), unless the cipher
    // finished it before it looked at the request again.
    const bool second = QFile::exists(out + kSep + QStringLiteral("f2.bin.crp"));
    QCOMPARE(s.form1->StatusText(),
             second ? QStringLiteral("Cancelled after 2 of 3 files; 2 originals deleted")
                    : QStringLiteral("Cancelled after 1 of 3 files; 1 original deleted"));
    QStringList written{QStringLiteral("f1.bin.crp")};
    QStringList kept{QStringLiteral("f2.bin"), QStringLiteral("f3.bin")};
    if (second) {
        written << QStringLiteral("f2.bin.crp");
        kept.removeFirst();
    }
    const QDir::Filters all = QDir::Files | QDir::Hidden | QDir::System;
    QCOMPARE(QDir(out).entryList(all, QDir::Name), written);
    QCOMPARE(QDir(Folder(name + QStringLiteral("-src"))).entryList(all, QDir::Name), kept);
    QVERIFY(prompt.Messages().isEmpty());
    QVERIFY(!CancelButton(s)->isVisible());
    QVERIFY(ui.Button5->isEnabled());
    QCOMPARE(ui.Pr1->value(), 0);
}

void CodingPagesTest::closingDuringABatch() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    const QStringList files = LargeFiles(QStringLiteral("close-src"));
    const QString out = Folder(QStringLiteral("close-out"));

    // Closed while file 2 is in work: asked, then cancelled, then closed.
    bool closing = false;
    OnProgress(s, [&](int position) {
        if (!closing && position > 333 && position < 666) {
            closing = true;
            s.form1->close();
            QVERIFY(s.form1->isVisible());
        }
    });
    prompt.AnswerQuestion(true);
    Encode(s, QStringLiteral("anna"), files, out);
    QVERIFY(closing);
    QCOMPARE(prompt.Of(Kind::Question)[0].caption, QStringLiteral("Quorvane 1.1"));
    QTRY_VERIFY(!s.form1->isVisible());
    QVERIFY(s.form1->users.List().empty());
    const QStringList left =
        QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    QVERIFY2(left == QStringList{QStringLiteral("f1.bin.crp")} ||
                 left == (QStringList{QStringLiteral("f1.bin.crp"), QStringLiteral("f2.bin.crp")}),
             qPrintable(left.join(QLatin1Char(' '))));
    // After the answer, before the window goes, the user is told how far the batch came.
    QCOMPARE(prompt.Messages(),
             (QStringList{QString::fromUtf8(quorvane::kCancelBatchQuestion.data(),
                                            quorvane::kCancelBatchQuestion.size()),
                          QStringLiteral("Cancelled after %1 of 3 files").arg(left.size())}));
}

// While the close question is open the batch waits after its current chunk (a real question
// runs an event loop, in which the batch would otherwise go on); No lets it go on to its end.
void CodingPagesTest::closingHoldsTheBatchWhileAsking() {
    ScriptedPrompt prompt;
    Session s(prompt, speakers_);
    const QStringList files = LargeFiles(QStringLiteral("hold-src"));
    const QString out = Folder(QStringLiteral("hold-out"));
    bool closing = false;
    OnProgress(s, [&](int position) {
        if (!closing && position > 333 && position < 666) {
            closing = true;
            // From the event loop, as a click on the window's close button comes.
            QTimer::singleShot(0, s.form1.get(), [&] { s.form1->close(); });
        }
    });
    int atQuestion = -1;
    int afterWaiting = -1;
    prompt.onShown = [&](const ScriptedPrompt::Entry& entry) {
        if (entry.kind == Kind::Question) {
            atQuestion = s.ui().Pr1->value();
            QTest::qWait(500);
            afterWaiting = s.ui().Pr1->value();
        }
    };
    prompt.AnswerQuestion(false);
    Encode(s, QStringLiteral("anna"), files, out);
    QVERIFY(closing);
    QVERIFY(atQuestion > 333);
    // At most the chunk in work and its progress step (4 MiB of 27) after the question; the
    // batch has not gone on to its end (where Pr1 returns to 0).
    QVERIFY2(afterWaiting >= atQuestion && afterWaiting - atQuestion <= 4 * 1000 / 27 + 1,
             qPrintable(QStringLiteral("%1 -> %2").arg(atQuestion).arg(afterWaiting)));
    QVERIFY(s.form1->isVisible());
    QCOMPARE(s.form1->StatusText(), QStringLiteral("3 of 3 files encoded into ") + out);
    QCOMPARE(prompt.Messages().size(), 1);
}

// A protected user in the window: nothing asked at start; encoding asks the passphrase in the
// masked box, Cancel and a wrong passphrase encode nothing; decoding with the security key needs
// no passphrase.
void CodingPagesTest::protectedUser() {
    const std::filesystem::path speakers = ToPath(Folder(QStringLiteral("ProtectedSpeakers")));
    std::filesystem::copy_file(speakers_ / "anna.spk", speakers / "anna.spk");
    {
        quorvane::testing::ScriptedFrontEnd front;
        quorvane::Users users(speakers);
        QCOMPARE(users.Load(front), 1);
        quorvane::PassphraseAnswer answer;
        answer.given = true;
        answer.passphrase = {'o', 'p', 'e', 'n'};
        front.passphrases.push_back(std::move(answer));
        QVERIFY(quorvane::ProtectUser(users, "anna", front).done);
    }
    QVERIFY(!std::filesystem::exists(speakers / "anna.spk"));

    ScriptedPrompt prompt;
    Session s(prompt, speakers);
    Ui::TForm1& ui = s.ui();
    QVERIFY(prompt.entries.empty());
    QCOMPARE(ui.ComboBox2->count(), 1);
    const auto type = [](const QString& passphrase) {
        return [passphrase](QDialog& box) {
            QCOMPARE(box.objectName(), QStringLiteral("PassphraseBox"));
            auto* edit = box.findChild<QLineEdit*>(QStringLiteral("PassphraseEdit"));
            QVERIFY(edit != nullptr && edit->echoMode() == QLineEdit::Password);
            edit->setText(passphrase);
            box.accept();
        };
    };
    const QStringList files = PlainFiles(QStringLiteral("prot-src"));
    const QString encoded = Folder(QStringLiteral("prot-enc"));
    ui.ComboBox2->setEditText(QStringLiteral("anna"));
    for (const bool cancel : {true, false}) {
        prompt.ClearShown();
        if (cancel) {
            prompt.OnShowModal([](QDialog& box) { box.reject(); });
        } else {
            prompt.OnShowModal(type(QStringLiteral("opem")));
        }
        s.Click(ui.Button5);
        QVERIFY(prompt.Of(Kind::OpenFiles).empty());
        QVERIFY(QDir(encoded).isEmpty());
        QCOMPARE(prompt.Messages().contains(QStringLiteral("Wrong passphrase for anna")), !cancel);
    }
    prompt.OnShowModal(type(QStringLiteral("open")));
    Encode(s, QStringLiteral("anna"), files, encoded);
    QCOMPARE(QDir(encoded).entryList(QDir::Files).size(), files.size());

    prompt.ClearShown();
    s.Click(ui.RadioGroup3_1);
    s.ChooseForDecoding({encoded + kSep + QStringLiteral("a.txt.crp")});
    const QString out = Folder(QStringLiteral("prot-out"));
    prompt.OnShowModal([&](QDialog& dialog) {
        static_cast<TForm4&>(dialog).Memo1->setPlainText(KeyLines(annaKey_));
        static_cast<TForm4&>(dialog).O->click();
    });
    prompt.OnShowModal(ConfirmFiles(prompt, out, false));
    s.Click(ui.Button7);
    QVERIFY(prompt.Messages().isEmpty());
    QCOMPARE(ReadAll(out + kSep + QStringLiteral("a.txt")), ReadAll(files[0]));
}

QTEST_MAIN(CodingPagesTest)
#include "CodingTest.moc"
