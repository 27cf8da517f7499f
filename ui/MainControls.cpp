// The controls the pages share: the status panel of StatusBar1, the radio group of the
// Decode page as an item index and its list of chosen files (DecodeChosen), the message of a
// step, and the names and descriptions screen readers say for every control.

#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QString>

#include "ui/Accessible.h"
#include "ui/ElidedLabel.h"
#include "ui/Main.h"
#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui_Main.h"
#include "workflow/Enrolment.h"

using ui::FromUtf8;

void TForm1::SetStatusText(const QString& text) {
    statusPanel1_->SetWholeText(text);
}

QString TForm1::StatusText() const {
    return statusPanel1_->WholeText();
}

void TForm1::ShowChosenFiles(const QStringList& files) {
    // The page says which files it holds, by name: a file opened from the file manager lands
    // here with nothing else to show for it.
    QStringList names;
    for (const QString& file : files) {
        names << QFileInfo(file).fileName();
    }
    ui->DecodeChosen->SetWholeText(names.size() == 1
                                       ? QStringLiteral("Chosen: ") + names.first()
                                       : QStringLiteral("Chosen: %1 files: ").arg(names.size()) +
                                             names.join(QStringLiteral(", ")));
    ui->DecodeChosen->setVisible(!files.isEmpty());
}

int TForm1::RadioGroup3ItemIndex() const {
    return radioGroup3_->checkedId();
}

void TForm1::NameControls() {
    struct Named {
        QWidget* control;
        const char* name;
        const char* description;
    };
    const Named controls[] = {
        {ui->BitBtn1, "Record", "Record: press and hold (mouse button or Space) to record sound"},
        {ui->BitBtn2, "Play",
         "Play: press and hold (mouse button or Space) to play recorded sound"},
        {ui->BitBtn3, "Help", "Help: open the help page (F1)"},
        {ui->Pr1, "Level and progress",
         "The sound level while Record or Play is held, and the progress of long commands"},
        {ui->RadioGroup1_0, "1 phrase", "Add the recording as phrase 1"},
        {ui->RadioGroup1_1, "2 phrase", "Add the recording as phrase 2"},
        {ui->RadioGroup1_2, "3 phrase", "Add the recording as phrase 3"},
        {ui->Button1, "Add phrase", "Add phrase: turn the recording into the chosen phrase"},
        {ui->Button4, "Train system...",
         "Train system: choose the security level and compute the threshold"},
        {ui->Verifikate, "Verify", "Verify: test the recording against the trained phrases"},
        {ui->ComboBox1, "Your name", "Your name: the user to add or remove"},
        {ui->Button2, "Add new user...",
         "Add new user: register the trained phrases under your name"},
        {ui->Button3, "Remove user...", "Remove user: delete the named user"},
        {ui->ComboBox2, "Registered users name", "The registered user whose files are encoded"},
        {ui->Button5, "Open file(s) for encoding...", "Choose the files to encode for the user"},
        {ui->RadioGroup3_0, "Voice decoding", "Decode after a voice verification"},
        {ui->RadioGroup3_1, "Enter security key", "Decode with the security key"},
        {ui->Button6, "Open file(s) to decode...", "Choose the encoded files to decode"},
        {ui->ComboBox3, "Users name", "The user whose files are decoded"},
        {ui->Button7, "Recognize/Decode...",
         "Verify the recording or enter the key, then decode the chosen files"},
        {ui->StudyHint, "How to register",
         "The steps to register a user, shown until the system is trained"},
        {cancelBatch_, "Cancel", "Stop encoding or decoding after the part in work (Escape)"},
        {ui->Label12, "GPL-3.0-or-later",
         "The program's licence, the GNU General Public License version 3 or later: open its "
         "text"},
    };
    for (const Named& named : controls) {
        named.control->setAccessibleName(QString::fromUtf8(named.name));
        named.control->setAccessibleDescription(QString::fromUtf8(named.description));
    }
    ui->DecodeChosen->Name(QStringLiteral("Chosen files"),
                           QStringLiteral("The encoded files chosen for decoding"));
    // The result fields keep their names; what they show is their description.
    ui::NameChangingLabel(*ui->Label2, ui::kVerificationResultName,
                          QStringLiteral("The result of Verify"));
    ui::NameChangingLabel(*ui->Label4, ui::kDecodingResultName,
                          QStringLiteral("The result of the voice verification for decoding"));
}

bool TForm1::Show(const quorvane::StepResult& result) {
    if (!result.message.empty()) {
        prompt.Message(ui::RefusalText(result.message, result.cause));
    }
    return result.done;
}
