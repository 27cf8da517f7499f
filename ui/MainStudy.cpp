// The "Study" page of the main window: the phrase enrolment ("Add phrase" Button1 with the
// phrase choice RadioGroup1 and its indicators Panel1 to Panel3, "Train system..." Button4,
// and the hint StudyHint that says their order until an enrolment is trained),
// the verification test ("Verify" Verifikate and its result Label2), and the registered
// users ("Your name" ComboBox1, "Add new user..." Button2, "Remove user..." Button3) with the
// user boxes of the other pages (ComboBox2, ComboBox3) that follow them.

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <optional>
#include <string>

#include "files/PathText.h"
#include "ui/Accessible.h"
#include "ui/HandlerGuard.h"
#include "ui/Main.h"
#include "ui/QtText.h"
#include "ui/WidgetLooks.h"
#include "ui_Main.h"
#include "workflow/Enrolment.h"
#include "workflow/Messages.h"
#include "workflow/Users.h"

using ui::FromUtf8;
using ui::SetBackground;
using ui::SetTextColour;
using ui::WaitCursor;

// ---- Study page: enrolment and training ----

void TForm1::Button1Click() {
    const int slot = std::clamp(RadioGroup1ItemIndex(), 0, 2);
    quorvane::StepResult added;
    {
        const WaitCursor wait;
        added = enrolment.AddPhrase(slot, front);
    }
    if (!Show(added)) {
        return;
    }
    SetPhraseIndicator(slot, true);
    SetStatusText(FromUtf8(quorvane::PhraseAddedText(slot + 1)));
    // The selection moves on to the next slot without a phrase, so three recordings in a
    // row fill the three slots.
    const auto& phrases = enrolment.PhraseCodebooks();
    for (int step = 1; step < 3; ++step) {
        if (const int next = (slot + step) % 3;
            !phrases[static_cast<std::size_t>(next)].Trained()) {
            SetRadioGroup1ItemIndex(next);
            break;
        }
    }
}

void TForm1::Button4Click() {
    const quorvane::TrainResult trained = enrolment.Train(front);
    if (Show(trained)) {
        SetStatusText(FromUtf8(trained.statusText));
    }
    ShowStudyHint();
}

void TForm1::ShowStudyHint() {
    // The steps of an enrolment, for as long as none is trained.
    ui->StudyHint->setVisible(enrolment.Threshold() <= 0.0f);
}

// ---- Study page: verification ----

void TForm1::VerifikateClick() {
    ui->Label2->setText(QString());
    ui::NameAfterText(*ui->Label2, ui::kVerificationResultName);
    quorvane::VerifyResult verified;
    {
        const WaitCursor wait;
        verified = enrolment.Verify(front);
    }
    if (!Show(verified)) {
        return;
    }
    SetTextColour(ui->Label2, verified.accepted ? kClGreen : kClRed);
    ui->Label2->setText(FromUtf8(verified.verdictText));
    ui::NameAfterText(*ui->Label2, ui::kVerificationResultName);
    SetStatusText(FromUtf8(verified.statusText));
}

// ---- Study page: users ----

void TForm1::Button2Click() {
    const std::string name = ui->ComboBox1->currentText().toStdString();
    // Protection is offered after the name is accepted and before anything is written.
    const quorvane::AddUserResult added =
        users.Add(name, enrolment, front,
                  {.keyFile = std::nullopt, .protection = quorvane::ProtectionOffer::Ask});
    // Done once registered, whatever happened with the key file afterwards.
    if (Show(added)) {
        SetStatusText(FromUtf8(quorvane::UserAddedText(
            name, added.keySaved ? quorvane::PathText(added.keyFile) : std::string())));
    }
}

void TForm1::Button3Click() {
    const QString name = ui->ComboBox1->currentText();
    if (!Show(users.Remove(name.toStdString(), front))) {
        return;
    }
    // The name leaves the boxes; the name box keeps showing the text that was typed.
    const int index = ui->ComboBox1->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        ui->ComboBox1->removeItem(index);
    }
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(name);
    RefillUserBoxes();
    SetStatusText(FromUtf8(quorvane::UserRemovedText(name.toStdString())));
}

// ---- The phrase choice and its indicators, the user boxes ----

int TForm1::RadioGroup1ItemIndex() const {
    return radioGroup1_->checkedId();
}

void TForm1::SetRadioGroup1ItemIndex(int index) {
    if (QAbstractButton* button = radioGroup1_->button(index); button != nullptr) {
        button->setChecked(true);
    }
}

void TForm1::RefillUserBoxes() {
    QStringList names;
    for (int i = 0; i < ui->ComboBox1->count(); ++i) {
        names << ui->ComboBox1->itemText(i);
    }
    for (QComboBox* box : {ui->ComboBox2, ui->ComboBox3}) {
        box->clear();
        box->addItems(names);
        // A cleared list leaves the box without a chosen name.
        box->setCurrentIndex(-1);
        box->setEditText(QString());
    }
    PreselectSingleUser();
}

void TForm1::SetPhraseIndicator(int slot, bool added) {
    QWidget* indicators[] = {ui->Panel1, ui->Panel2, ui->Panel3};
    QWidget* indicator = indicators[std::clamp(slot, 0, 2)];
    SetBackground(indicator, added ? kClGreen : kClRed);
    // What the colour says, for those who do not see it.
    const QString phrase = QStringLiteral("Phrase %1").arg(slot + 1);
    indicator->setAccessibleName(
        phrase + (added ? QStringLiteral(": added") : QStringLiteral(": not added")));
    indicator->setAccessibleDescription(
        phrase + QStringLiteral(" indicator: green once the phrase is added"));
}

bool TForm1::PhraseIndicatorGreen(int slot) const {
    const QWidget* indicators[] = {ui->Panel1, ui->Panel2, ui->Panel3};
    if (slot < 0 || slot > 2) {
        return false;
    }
    return indicators[slot]->palette().color(QPalette::Window) == kClGreen;
}

void TForm1::AddUserName(const QString& name) {
    // Adding to the list does not change what the name box shows.
    const QString text = ui->ComboBox1->currentText();
    ui->ComboBox1->addItem(name);
    ui->ComboBox1->setCurrentIndex(-1);
    ui->ComboBox1->setEditText(text);
    RefillUserBoxes();
}

void TForm1::LoadUsers() {
    users.Load(front);
    for (const std::string& name : users.List().Names()) {
        AddUserName(FromUtf8(name));
    }
}
