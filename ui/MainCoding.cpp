// The "Encode" and "Decode" pages of the main window: encrypting files for a
// registered user, and decrypting them after a voice verification or with the
// typed security key. Files dropped onto either page count as a choice of its
// open dialog.

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>

#include "analysis/VoiceCodebook.h"
#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"
#include "speaker/Decision.h"
#include "speaker/Training.h"
#include "speaker/UserList.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Prompt.h"
#include "ui/Seckey.h"
#include "ui_Main.h"

namespace {

using quorvane::GostKey;
using quorvane::UserRecord;

// The owner's name in an encoded file's header is followed by this text.
const QString kMarkerSuffix = QStringLiteral("cryptedfile");
constexpr qsizetype kMarkerSuffixLength = 11;
// Longest header token taken as an encoded file's owner: a name of at most 900
// characters and the suffix. Longer tokens are "not encoded".
constexpr qsizetype kMaxMarkerTokenLength = 911;
// A decoded file's name is the encoded file's name less its last four
// characters (the ".crp" that encoding appended).
constexpr qsizetype kEncodedSuffixLength = 4;

// Label4's colours: the platform's standard green and red.
const QColor kResultGreen(0x00, 0x80, 0x00);
const QColor kResultRed(0xFF, 0x00, 0x00);

std::filesystem::path ToPath(const QString& text) {
    return std::filesystem::path(text.toStdU16String());
}

// The chosen files' folder as shown in Edit2: native separators, no trailing
// separator except for a root folder.
QString FolderOf(const QString& file) {
    return QDir::toNativeSeparators(QFileInfo(file).absolutePath());
}

bool EndsWithSeparator(const QString& folder) {
    return folder.endsWith(QDir::separator()) || folder.endsWith(QLatin1Char('/'));
}

// Number of characters of a text, counting a surrogate pair as one.
qsizetype CharacterCount(const QString& text) {
    return static_cast<qsizetype>(text.toUcs4().size());
}

// The text without its last `count` characters (a surrogate pair is one).
QString DropLastCharacters(const QString& text, qsizetype count) {
    QList<uint> codePoints = text.toUcs4();
    codePoints.resize(codePoints.size() - count);
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(codePoints.constData()),
                             codePoints.size());
}

void SetResult(QLabel& label, const QString& text, const QColor& color) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    label.setPalette(palette);
    label.setText(text);
}

// Whether the file can be opened for reading at all (its header token is needed
// before anything else happens).
bool CanRead(const QString& file) {
    const std::ifstream stream(ToPath(file), std::ios::binary);
    return stream.is_open();
}

// The local files of a drop, in the drop's order; folders and non-local items
// are left out. Like the open dialogs, a drop takes files of one folder only:
// the batch names its outputs by file name alone, so two equally named files of
// different folders would overwrite each other's output.
QStringList DroppedFiles(const QMimeData* mime) {
    QStringList files;
    if (mime == nullptr || !mime->hasUrls()) {
        return files;
    }
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QString path = url.toLocalFile();
        if (QFileInfo(path).isFile()) {
            files.append(path);
        }
    }
    for (const QString& file : files) {
        if (QFileInfo(file).absolutePath() != QFileInfo(files.first()).absolutePath()) {
            return {};
        }
    }
    return files;
}

// Takes files dropped onto one page and hands them to that page's workflow.
// The workflow runs after the drop has been completed, so its dialogs and
// message boxes do not hold the application the files were dragged from.
class FileDropFilter final : public QObject {
public:
    FileDropFilter(QObject* parent, std::function<void(const QStringList&)> take)
        : QObject(parent), take_(std::move(take)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (!DroppedFiles(drag->mimeData()).isEmpty()) {
                    drag->acceptProposedAction();
                    return true;
                }
                return false;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                const QStringList files = DroppedFiles(drop->mimeData());
                if (files.isEmpty()) {
                    return false;
                }
                drop->acceptProposedAction();
                QTimer::singleShot(0, this, [this, files] { take_(files); });
                return true;
            }
            default:
                return QObject::eventFilter(watched, event);
        }
    }

private:
    std::function<void(const QStringList&)> take_;
};

// Fills the files dialog for one batch. Each list line is a file's name; the
// line keeps the file's full path, which is where the batch reads it from.
void PrepareFilesDialog(TForm3& form, const QString& name, const QStringList& files) {
    form.Edit1->setText(name);
    form.ListBox1->clear();
    for (const QString& file : files) {
        const QFileInfo info(file);
        auto* item = new QListWidgetItem(info.fileName(), form.ListBox1);
        item->setData(Qt::UserRole, QDir::toNativeSeparators(info.absoluteFilePath()));
    }
    form.Edit2->setText(files.isEmpty() ? QString() : FolderOf(files.first()));
}

// Edit2's folder with a trailing separator, written back so that the dialog
// shows the folder the batch writes to.
QString OutputFolder(TForm3& form) {
    QString folder = form.Edit2->text();
    if (!EndsWithSeparator(folder)) {
        folder += QDir::separator();
        form.Edit2->setText(folder);
    }
    return folder;
}

// The registered user the Encode page names, or nullptr after telling why not.
const UserRecord* EncodingUser(const quorvane::UserList& users, const QString& name,
                               Prompt& prompt) {
    if (users.empty()) {
        prompt.Message(QStringLiteral("There are no registered users"));
        return nullptr;
    }
    const UserRecord* record = users.Find(name.toStdString());
    if (record == nullptr) {
        prompt.Message(
            QStringLiteral("User with such name was not found in the list of registered users"));
    }
    return record;
}

}  // namespace

// ---------------------------------------------------------------- Encode page

void TForm1::Button5Click() {
    if (EncodingUser(userList, ui->ComboBox2->currentText(), prompt) == nullptr) {
        return;
    }
    Prompt::FileDialogOptions options;
    options.title = QStringLiteral("Open files for encoding");
    options.filter = QStringLiteral("All files (*)");
    options.multiple = true;
    const QStringList files = prompt.OpenFiles(options);
    if (files.isEmpty()) {
        return;
    }
    EncodeChosenFiles(files);
}

void TForm1::EncodeChosenFiles(const QStringList& files) {
    // A drop arrives without the checks that precede the open dialog; run them here.
    const UserRecord* record = EncodingUser(userList, ui->ComboBox2->currentText(), prompt);
    if (record == nullptr) {
        return;
    }
    if (files.isEmpty() || Form3 == nullptr) {
        return;
    }
    TForm3& form = *Form3;
    form.SetPrompt(&prompt);
    const QString name = QString::fromStdString(record->name);
    PrepareFilesDialog(form, name, files);
    form.setWindowTitle(QStringLiteral("Files for encoding"));
    form.GroupBox1->setTitle(QStringLiteral("Encoding files"));
    form.CheckBox1->setText(QStringLiteral("Delete original files after encoding"));
    form.CheckBox1->setChecked(false);
    form.Label3->setText(QStringLiteral("Write encoded files to folder:"));

    if (prompt.ShowModal(form) == QDialog::Accepted) {
        const int count = form.ListBox1->count();
        pr1Progress.SetRange(0, count);
        pr1Progress.SetStep(1);
        pr1Progress.SetPosition(0);
        const GostKey key = quorvane::DeriveUserKey(record->codebooks);
        const QString folder = OutputFolder(form);
        const std::string marker = record->name + kMarkerSuffix.toStdString();
        const bool deleteOriginals = form.CheckBox1->isChecked();
        for (int i = 0; i < count; ++i) {
            const QListWidgetItem* item = form.ListBox1->item(i);
            const QString input = item->data(Qt::UserRole).toString();
            const QString output = folder + item->text() + QStringLiteral(".crp");
            const int result = quorvane::EncodeFile(ToPath(input), ToPath(output), marker, key,
                                                    quorvane::FileSubstitutionTable);
            if (result == 1) {
                // EncodeFile reports 1 only once the whole ".crp" file is in place.
                if (deleteOriginals) {
                    std::error_code error;
                    if (!std::filesystem::remove(ToPath(input), error)) {
                        prompt.Message(QStringLiteral("Original file ") + input +
                                       QStringLiteral(" can not be removed!"));
                    }
                }
            } else {
                prompt.Message(
                    QStringLiteral("File ") + input +
                    QStringLiteral(" can not be encoded. Please check the path of output file"));
            }
            pr1Progress.StepIt();
        }
    }
    pr1Progress.SetPosition(0);
}

// ---------------------------------------------------------------- Decode page

void TForm1::RadioGroup3Click() {
    ui->Button7->setText(RadioGroup3ItemIndex() == 0 ? QStringLiteral("Recognize/Decode...")
                                                     : QStringLiteral("Enter key..."));
}

void TForm1::Button6Click() {
    Prompt::FileDialogOptions options;
    options.filter = QStringLiteral("Encoded files (*.crp);;All files (*)");
    options.multiple = true;
    // Every run of the dialog replaces the last choice; a cancelled run leaves none.
    decodeFiles.clear();
    const QStringList files = prompt.OpenFiles(options);
    if (files.isEmpty()) {
        return;
    }
    DecodeChosenFiles(files);
}

void TForm1::DecodeChosenFiles(const QStringList& files) {
    decodeFiles = files;
    if (files.isEmpty()) {
        return;
    }
    // A single file that cannot be read at all is reported before anything else
    // happens, so the recording, the verdict and the name box stay as they were.
    if (files.size() == 1 && !CanRead(files.first())) {
        prompt.Message(QStringLiteral("File ") + QDir::toNativeSeparators(files.first()) +
                       QStringLiteral(" can not be opened for reading"));
        return;
    }
    // A voice verification must use a recording made after the files were chosen.
    recordedCount = 0;
    SetResult(*ui->Label4, QStringLiteral("Result"), kResultGreen);

    if (files.size() == 1) {
        std::string token;
        if (!quorvane::ReadMarker(ToPath(files.first()), token)) {
            prompt.Message(QStringLiteral("This file was not encoded"));
            return;
        }
        const auto length = static_cast<qsizetype>(token.size());
        if (length < kMarkerSuffixLength || length > kMaxMarkerTokenLength ||
            token.find(kMarkerSuffix.toStdString()) == std::string::npos) {
            prompt.Message(QStringLiteral("This file was not encoded"));
            return;
        }
        // The name is the token less its last 11 bytes, wherever "cryptedfile" stood.
        const std::string name = token.substr(0, token.size() - kMarkerSuffixLength);
        ui->ComboBox3->setEnabled(false);
        ui->ComboBox3->setCurrentText(QString::fromStdString(name));
        return;
    }
    ui->ComboBox3->setEnabled(true);
    ui->ComboBox3->setCurrentText(QString());
}

void TForm1::Button7Click() {
    SetResult(*ui->Label4, QStringLiteral("Result"), kResultGreen);
    if (decodeFiles.isEmpty()) {
        prompt.Message(QStringLiteral("Select file(s) for decoding first."));
        return;
    }
    const QString name = ui->ComboBox3->currentText();
    if (name.isEmpty()) {
        prompt.Message(QStringLiteral("Enter your name first"));
        return;
    }
    const std::string stdName = name.toStdString();
    const bool byVoice = RadioGroup3ItemIndex() == 0;
    const UserRecord* record = nullptr;
    GostKey typedKey{};

    if (byVoice) {
        record = userList.Find(stdName);
        if (record == nullptr) {
            prompt.Message(QStringLiteral("User ") + name +
                           QStringLiteral(" was not found in the list of registered users"));
            return;
        }
        if (recordedCount == 0) {
            prompt.Message(QStringLiteral("Please record phrase for your verification first"));
            return;
        }
        quorvane::VoiceCodebook test;
        const std::span<const std::int16_t> samples(recordedSamples);
        if (!quorvane::TrainCodebook(test, samples, recordedCount, quorvane::kSampleRate,
                                     quorvane::kMaxCodewords, pr1Progress, notifier)) {
            prompt.Message(QStringLiteral("Too little feature vectors, please repeat recording"));
            return;
        }
        float distance = 0.0f;
        if (!quorvane::VerifySpeaker(record->codebooks, test, record->threshold, distance)) {
            SetResult(*ui->Label4, QStringLiteral("Result: Negative"), kResultRed);
            return;
        }
        SetResult(*ui->Label4, QStringLiteral("Result:Positive"), kResultGreen);
    } else {
        if (Form4 == nullptr) {
            return;
        }
        TForm4& keyForm = *Form4;
        keyForm.Edit1->setText(name);
        keyForm.Memo1->clear();
        if (prompt.ShowModal(keyForm) != QDialog::Accepted) {
            return;
        }
        const QStringList lines = keyForm.KeyLines();
        if (lines.size() < static_cast<qsizetype>(typedKey.size())) {
            prompt.Message(QStringLiteral("Security key must be 8 digits"));
            return;
        }
        // Lines after the eighth are ignored.
        for (std::size_t i = 0; i < typedKey.size(); ++i) {
            const QString& line = lines[static_cast<qsizetype>(i)];
            const std::optional<std::int32_t> word = ParseKeyNumber(line);
            if (!word) {
                prompt.Message(QStringLiteral("'%1' is not a valid integer value").arg(line));
                return;
            }
            typedKey[i] = static_cast<std::uint32_t>(*word);
        }
    }

    if (Form3 == nullptr) {
        return;
    }
    TForm3& form = *Form3;
    form.SetPrompt(&prompt);
    PrepareFilesDialog(form, name, decodeFiles);
    form.setWindowTitle(QStringLiteral("Files for decoding"));
    form.GroupBox1->setTitle(QStringLiteral("Decoding files"));
    form.CheckBox1->setText(QStringLiteral("Delete encoded files after decoding"));
    form.CheckBox1->setChecked(false);
    form.Label3->setText(QStringLiteral("Write decoded files to folder:"));
    if (prompt.ShowModal(form) != QDialog::Accepted) {
        return;
    }

    const int count = form.ListBox1->count();
    pr1Progress.SetRange(0, count);
    pr1Progress.SetStep(1);
    pr1Progress.SetPosition(0);
    const GostKey key = byVoice ? quorvane::DeriveUserKey(record->codebooks) : typedKey;
    const bool deleteEncoded = form.CheckBox1->isChecked();
    // A wrong typed key still "decodes" (the format holds no check value), so an
    // encoded file is deleted only when the typed key is provably the owner's:
    // that of the registered user of this name. Otherwise the files are kept.
    bool mayDelete = deleteEncoded;
    if (deleteEncoded && !byVoice) {
        const UserRecord* owner = userList.Find(stdName);
        mayDelete = owner != nullptr && quorvane::DeriveUserKey(owner->codebooks) == typedKey;
    }
    bool keptEncoded = false;
    const QString folder = OutputFolder(form);
    const std::string marker = stdName + kMarkerSuffix.toStdString();
    for (int i = 0; i < count; ++i) {
        const QListWidgetItem* item = form.ListBox1->item(i);
        const QString input = item->data(Qt::UserRole).toString();
        const QString line = item->text();
        int result = 0;
        // A name of four characters or fewer leaves no output name.
        if (CharacterCount(line) > kEncodedSuffixLength) {
            const QString output = folder + DropLastCharacters(line, kEncodedSuffixLength);
            result = quorvane::DecodeFile(ToPath(input), ToPath(output), marker, key,
                                          quorvane::FileSubstitutionTable);
        }
        if (result == 1) {
            // DecodeFile reports 1 only once the whole plain file is in place.
            if (mayDelete) {
                std::error_code error;
                if (!std::filesystem::remove(ToPath(input), error)) {
                    prompt.Message(QStringLiteral("Encoded file ") + input +
                                   QStringLiteral(" can not be removed!"));
                }
            } else if (deleteEncoded) {
                keptEncoded = true;
            }
        } else {
            prompt.Message(QStringLiteral("File ") + input +
                           QStringLiteral(" can not be decoded. Please check the path of output "
                                          "file or this file can be encoded by other user"));
        }
        pr1Progress.StepIt();
    }
    pr1Progress.SetPosition(0);
    if (keptEncoded) {
        prompt.Message(QStringLiteral("The encoded files were kept: the typed security key is "
                                      "not the key of a registered user named ") +
                       name);
    }
}

// ---------------------------------------------------------------- Drops

void TForm1::SetupCodingPages() {
    const auto watch = [this](QWidget* page, std::function<void(const QStringList&)> take) {
        if (page == nullptr) {
            return;
        }
        page->setAcceptDrops(true);
        page->installEventFilter(new FileDropFilter(page, std::move(take)));
    };
    watch(ui->TabSheet2, [this](const QStringList& files) { EncodeChosenFiles(files); });
    watch(ui->TabSheet3, [this](const QStringList& files) { DecodeChosenFiles(files); });
}
