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
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/PathText.h"
#include "ui/Accessible.h"
#include "ui/BatchRunner.h"
#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui/Seckey.h"
#include "ui_Main.h"
#include "workflow/Batch.h"
#include "workflow/Coding.h"
#include "workflow/Decoding.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"

namespace {

using quorvane::UserRecord;

using ui::FromUtf8;
using ui::QtFilter;
using ui::ToPath;

// The chosen files' folder as shown in Edit2: native separators, no trailing
// separator except for a root folder.
QString FolderOf(const QString& file) {
    return QDir::toNativeSeparators(QFileInfo(file).absolutePath());
}

bool EndsWithSeparator(const QString& folder) {
    return folder.endsWith(QDir::separator()) || folder.endsWith(QLatin1Char('/'));
}

void SetResult(QLabel& label, const QString& text, const QColor& color) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, color);
    label.setPalette(palette);
    label.setText(text);
    ui::NameAfterText(label, ui::kDecodingResultName);
}

// What a batch did, for the status panel.
QString BatchStatus(const quorvane::BatchResult& batch, std::size_t total, bool encoding,
                    const std::filesystem::path& folder) {
    return FromUtf8(quorvane::BatchSummary(batch, total, encoding, folder));
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
    // Drops are refused while `busy` says so (a batch runs).
    FileDropFilter(QObject* parent, std::function<void(const QStringList&)> take,
                   std::function<bool()> busy)
        : QObject(parent), take_(std::move(take)), busy_(std::move(busy)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (busy_()) {
            return QObject::eventFilter(watched, event);
        }
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
    std::function<bool()> busy_;
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

// The confirmed list of the files dialog: each line keeps the file's full path.
std::vector<std::filesystem::path> ListedFiles(const TForm3& form) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < form.ListBox1->count(); ++i) {
        files.push_back(ToPath(form.ListBox1->item(i)->data(Qt::UserRole).toString()));
    }
    return files;
}

// Fills the files dialog's captions for encoding or decoding; the box starts unchecked.
void CaptionFilesDialog(TForm3& form, std::string_view caption, std::string_view group,
                        std::string_view check, std::string_view folder) {
    form.setWindowTitle(FromUtf8(caption));
    form.GroupBox1->setTitle(FromUtf8(group));
    form.CheckBox1->setText(FromUtf8(check));
    form.CheckBox1->setChecked(false);
    form.Label3->setText(FromUtf8(folder));
}

}  // namespace

// ---------------------------------------------------------------- Encode page

void TForm1::Button5Click() {
    // A protected user's models are unlocked (the passphrase asked) before files are chosen.
    const std::string chosenName = ui->ComboBox2->currentText().toStdString();
    if (users.List().Find(chosenName) != nullptr &&
        !Show(quorvane::UnlockUser(users, chosenName, front))) {
        return;
    }
    std::string refusal;
    if (quorvane::FindEncodingUser(users.List(), ui->ComboBox2->currentText().toStdString(),
                                   refusal) == nullptr) {
        prompt.Message(FromUtf8(refusal));
        return;
    }
    Prompt::FileDialogOptions options;
    options.title = FromUtf8(quorvane::kOpenForEncodingTitle);
    options.filter = QtFilter(quorvane::kOpenForEncodingFilter);
    options.multiple = true;
    const QStringList files = prompt.OpenFiles(options);
    if (files.isEmpty()) {
        return;
    }
    EncodeChosenFiles(files);
}

void TForm1::EncodeChosenFiles(const QStringList& files) {
    // A drop arrives without the checks that precede the open dialog; run them here.
    const std::string chosenName = ui->ComboBox2->currentText().toStdString();
    if (users.List().Find(chosenName) != nullptr &&
        !Show(quorvane::UnlockUser(users, chosenName, front))) {
        return;
    }
    std::string refusal;
    const UserRecord* record = quorvane::FindEncodingUser(
        users.List(), ui->ComboBox2->currentText().toStdString(), refusal);
    if (record == nullptr) {
        prompt.Message(FromUtf8(refusal));
        return;
    }
    if (files.isEmpty() || Form3 == nullptr) {
        return;
    }
    TForm3& form = *Form3;
    form.SetPrompt(&prompt);
    PrepareFilesDialog(form, QString::fromStdString(record->name), files);
    CaptionFilesDialog(form, quorvane::kEncodingDialogCaption, quorvane::kEncodingGroupCaption,
                       quorvane::kDeleteOriginalsCaption, quorvane::kEncodingFolderCaption);
    if (prompt.ShowModal(form) == QDialog::Accepted) {
        const std::filesystem::path folder = ToPath(OutputFolder(form));
        const std::vector<std::filesystem::path> listed = ListedFiles(form);
        const bool deleteOriginals = form.CheckBox1->isChecked();
        quorvane::BatchResult batch;
        if (RunFileBatch(listed, [&](quorvane::BatchFrontEnd& worker) {
                batch = quorvane::EncodeFiles(*record, listed, folder, deleteOriginals, worker);
            })) {
            SetStatusText(BatchStatus(batch, listed.size(), true, folder));
        }
    }
    pr1Progress.SetPosition(0);
}

// ---------------------------------------------------------------- Decode page

void TForm1::RadioGroup3Click() {
    ui->Button7->setText(FromUtf8(RadioGroup3ItemIndex() == 0 ? quorvane::kRecognizeCaption
                                                              : quorvane::kEnterKeyCaption));
    // Screen readers say what the button shows.
    ui->Button7->setAccessibleName(ui->Button7->text());
}

void TForm1::Button6Click() {
    Prompt::FileDialogOptions options;
    options.filter = QtFilter(quorvane::kOpenForDecodingFilter);
    options.multiple = true;
    // Every run of the dialog replaces the last choice; a cancelled run leaves none.
    decodeFiles.clear();
    const QStringList files = prompt.OpenFiles(options);
    if (files.isEmpty()) {
        return;
    }
    DecodeChosenFiles(files);
}

void TForm1::DecodeGivenFiles(const QStringList& files) {
    std::vector<std::filesystem::path> given;
    for (const QString& file : files) {
        given.push_back(ToPath(QDir::toNativeSeparators(file)));
    }
    QStringList choosable;
    for (const std::filesystem::path& file : quorvane::ChoosableEncodedFiles(given, front)) {
        choosable.append(FromUtf8(quorvane::PathText(file)));
    }
    if (!choosable.isEmpty()) {
        DecodeChosenFiles(choosable);
    }
}

void TForm1::DecodeChosenFiles(const QStringList& files) {
    decodeFiles = files;
    if (files.isEmpty()) {
        return;
    }
    // The owner rule with no name given: a single file names its owner.
    quorvane::DecodeRequest request;
    for (const QString& file : files) {
        request.files.push_back(ToPath(QDir::toNativeSeparators(file)));
    }
    const quorvane::DecodeOwnerResult owner = quorvane::DecodeOwner(request);
    quorvane::TellLeftovers(owner.leftoversRemoved, front);
    // A single file that cannot be read at all is reported before anything else
    // happens, so the recording, the verdict and the name box stay as they were.
    if (owner.fromFile && !owner.done && !owner.notEncoded) {
        Show(owner);
        return;
    }
    // A voice verification must use a recording made after the files were chosen.
    enrolment.DropRecording();
    SetResult(*ui->Label4, FromUtf8(quorvane::kResultRestText), TForm1::kClGreen);
    if (owner.fromFile) {
        if (Show(owner)) {
            ui->ComboBox3->setEnabled(false);
            ui->ComboBox3->setCurrentText(QString::fromStdString(owner.name));
        }
        return;
    }
    ui->ComboBox3->setEnabled(true);
    ui->ComboBox3->setCurrentText(QString());
}

namespace {

// The Decode page's part of a decode: the verdict in Label4, the security key dialog TForm4,
// the files dialog TForm3 and the batch on a worker thread.
class DecodePage final : public quorvane::DecodeSteps {
public:
    explicit DecodePage(TForm1& form) : form_(form) {}

    void ShowVerdict(const quorvane::VoiceKeyResult& voice) override {
        SetResult(*form_.ui->Label4, FromUtf8(voice.verdictText),
                  voice.verdict.accepted ? TForm1::kClGreen : TForm1::kClRed);
    }
    std::optional<std::vector<std::string>> AskKeyLines(std::string_view name) override {
        if (form_.Form4 == nullptr) {
            return std::nullopt;
        }
        TForm4& keyForm = *form_.Form4;
        keyForm.Edit1->setText(FromUtf8(name));
        keyForm.SetPrompt(&form_.prompt);
        keyForm.Memo1->clear();
        if (form_.prompt.ShowModal(keyForm) != QDialog::Accepted) {
            return std::nullopt;
        }
        std::vector<std::string> lines;
        for (const QString& line : keyForm.KeyLines()) {
            lines.push_back(line.toStdString());
        }
        return lines;
    }
    std::optional<Files> ConfirmFiles(std::string_view owner, const Files&) override {
        if (form_.Form3 == nullptr) {
            return std::nullopt;
        }
        TForm3& form = *form_.Form3;
        form.SetPrompt(&form_.prompt);
        PrepareFilesDialog(form, FromUtf8(owner), form_.decodeFiles);
        CaptionFilesDialog(form, quorvane::kDecodingDialogCaption, quorvane::kDecodingGroupCaption,
                           quorvane::kDeleteEncodedCaption, quorvane::kDecodingFolderCaption);
        if (form_.prompt.ShowModal(form) != QDialog::Accepted) {
            return std::nullopt;
        }
        const std::filesystem::path folder = ToPath(OutputFolder(form));
        return Files{ListedFiles(form), folder, form.CheckBox1->isChecked()};
    }
    bool RunBatch(const std::vector<std::filesystem::path>& files,
                  const std::function<void(quorvane::BatchFrontEnd&)>& work) override {
        return form_.RunFileBatch(files, work);
    }

private:
    TForm1& form_;
};

}  // namespace

void TForm1::Button7Click() {
    SetResult(*ui->Label4, FromUtf8(quorvane::kResultRestText), TForm1::kClGreen);
    // The files chosen, the owner the name box holds (from the single file's header, or typed),
    // the decoding type; the workflow does the rest through the page's steps.
    quorvane::DecodeRequest request;
    for (const QString& file : decodeFiles) {
        request.files.push_back(ToPath(QDir::toNativeSeparators(file)));
    }
    request.name = ui->ComboBox3->currentText().toStdString();
    request.nameRequired = true;
    request.keySource =
        RadioGroup3ItemIndex() == 0 ? quorvane::KeySource::Voice : quorvane::KeySource::TypedLines;
    request.recording = enrolment.Recording();
    DecodePage page(*this);
    const quorvane::DecodeOutcome outcome = quorvane::Decode(request, users, front, page);
    switch (outcome.ending) {
        case quorvane::DecodeEnding::Refused:
            prompt.Message(ui::RefusalText(outcome.message, outcome.cause));
            break;
        case quorvane::DecodeEnding::Checked:
        case quorvane::DecodeEnding::Decoded:
            SetStatusText(BatchStatus(outcome.batch, outcome.files.files.size(), false,
                                      outcome.files.outputFolder));
            break;
        case quorvane::DecodeEnding::Rejected:
        case quorvane::DecodeEnding::Cancelled:
        case quorvane::DecodeEnding::NotRun:
            break;
    }
}

// ---------------------------------------------------------------- Drops

void TForm1::SetupCodingPages() {
    const auto watch = [this](QWidget* page, std::function<void(const QStringList&)> take) {
        if (page == nullptr) {
            return;
        }
        page->setAcceptDrops(true);
        page->installEventFilter(
            new FileDropFilter(page, std::move(take), [this] { return BatchRunning(); }));
    };
    watch(ui->TabSheet2, [this](const QStringList& files) { EncodeChosenFiles(files); });
    watch(ui->TabSheet3, [this](const QStringList& files) { DecodeChosenFiles(files); });
    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this] { PreselectSingleUser(); });
}

void TForm1::PreselectSingleUser() {
    // With one registered user there is nobody else to encode for.
    if (ui->ComboBox2->count() == 1 && ui->ComboBox2->currentText().isEmpty()) {
        ui->ComboBox2->setCurrentIndex(0);
    }
}
