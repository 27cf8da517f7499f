#pragma once

#include <QColor>
#include <QLatin1String>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/ChosenFiles.h"
#include "ui/Pr1Progress.h"
#include "ui/WindowFrontEnd.h"
#include "workflow/Enrolment.h"
#include "workflow/FrontEnd.h"
#include "workflow/Users.h"

class BatchRunner;
class Prompt;
class QKeyEvent;
class QProgressBar;
class QPushButton;
class QLabel;
class QTimer;
class QButtonGroup;
class QCloseEvent;
class QDialog;
class QUrl;
class ElidedLabel;
class TForm2;
class TForm3;
class TForm4;

namespace Ui {
class TForm1;
}

namespace quorvane {
class SoundBuffer;
class WaveDevice;
}  // namespace quorvane

// The main window: the "Study", "Encode", "Decode" and "About" pages, the
// Record/Play/Help buttons, the progress bar Pr1 and the status bar. It holds the
// state every command shares; the commands are its handlers. Everything modal goes
// through the injected Prompt, the sound through the injected device.
//
// The handlers live by the controls they serve: MainStudy.cpp (the Study page),
// MainHold.cpp (Record, Play and the level meter), MainHelp.cpp (Help and the About page),
// MainCoding.cpp (the Encode and Decode pages), MainControls.cpp (the status panel and what
// the pages share), MainEvents.cpp (the event filter); Main.cpp builds and closes the window.
class TForm1 final : public QMainWindow {
    Q_OBJECT

public:
    // How long a released Space waits for a press that shows the key is still held.
    static constexpr int kKeyReleaseGraceMs = 100;
    // The colours of the result fields (Label2, Label4) and the phrase indicators: the
    // platform's standard green and red.
    static const QColor kClGreen;
    static const QColor kClRed;
    // The text of the program's licence (GPL-3.0-or-later), opened by Label12.
    static constexpr QLatin1String kLicenceAddress{"https://www.gnu.org/licenses/gpl-3.0.html"};

    // Builds the window and its state, then loads the registered users from
    // `speakersDir` (the program folder's "Speakers" in the program; a test folder
    // in tests). The dialogs are created after the main window and attached with
    // AttachDialogs.
    TForm1(Prompt& prompt, std::unique_ptr<quorvane::WaveDevice> device,
           std::filesystem::path speakersDir, QWidget* parent = nullptr);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // The three dialogs, created after this window (in the order TForm2, TForm3,
    // TForm4), live as long as it does.
    void AttachDialogs(TForm2& form2, TForm3& form3, TForm4& form4);

    // ---- Shared state, read and written by the handlers ----
    // The enrolment in progress (recording, phrase codebooks, threshold) and the
    // registered users of the Speakers folder live in the workflow objects.
    Prompt& prompt;
    Pr1Progress pr1Progress;
    WindowFrontEnd front;  // must outlive soundBuffer
    quorvane::Enrolment enrolment;
    quorvane::Users users;
    std::unique_ptr<quorvane::SoundBuffer> soundBuffer;
    std::int32_t elapsedMs = 0;  // level meter clock while Record or Play is held
    // The files chosen by "Open file(s) to decode..."; the Decode page names them.
    ChosenFiles decodeFiles{[this](const QStringList& files) { ShowChosenFiles(files); }};
    // Runs the file batches off the interface thread; CancelBatch stops them.
    BatchRunner* batchRunner = nullptr;

    TForm2* Form2 = nullptr;
    TForm3* Form3 = nullptr;
    TForm4* Form4 = nullptr;

    // The controls, by their form names: ui->Button1, ui->Pr1, ui->ComboBox1 ...
    std::unique_ptr<Ui::TForm1> ui;
    QTimer* Timer1 = nullptr;  // 200 ms level meter, runs only while a button is held
    // The program's own view of the help page, for a desktop that cannot open it;
    // created on first use.
    QDialog* helpWindow = nullptr;
    // Where an installed copy's help page is looked for when none lies beside the program
    // (quorvane::InstalledHelpPages; tests give folders of their own).
    std::vector<std::filesystem::path> installedHelpPages;

    // ---- Helpers for the handlers ----
    // Panel 1 of StatusBar1 (an ElidedLabel: a text too wide is elided in the middle and
    // whole in its tooltip). StatusText is the whole text.
    void SetStatusText(const QString& text);
    [[nodiscard]] QString StatusText() const;
    // Runs `work` (a call of a file batch, given the batch's front end) on a worker thread
    // while the window stays painted: Pr1 shows the bytes of `inputs` done, the status
    // panel the file in work, CancelBatch and Escape stop it, and the controls that
    // would start another command are disabled meanwhile.
    // False, running nothing, while another batch runs.
    [[nodiscard]] bool RunFileBatch(
        const std::vector<std::filesystem::path>& inputs,
        const std::function<void(quorvane::BatchFrontEnd& front)>& work);
    // Whether a file batch is running.
    [[nodiscard]] bool BatchRunning() const;

    // Item index of RadioGroup1 ("Add phrases to the user") and RadioGroup3
    // ("Decoding type"); -1 when none is checked.
    [[nodiscard]] int RadioGroup1ItemIndex() const;
    void SetRadioGroup1ItemIndex(int index);
    [[nodiscard]] int RadioGroup3ItemIndex() const;
    // ComboBox2 and ComboBox3 cleared and given a copy of ComboBox1's items.
    void RefillUserBoxes();
    // The Decode page's DecodeChosen names the chosen files (hidden while there are none).
    void ShowChosenFiles(const QStringList& files);
    // The Study page's StudyHint says the steps of an enrolment while none is trained.
    void ShowStudyHint();
    // Whether a phrase slot's indicator (Panel1..Panel3) shows green.
    [[nodiscard]] bool PhraseIndicatorGreen(int slot) const;

    // The folder of the running executable (where help.htm lies).
    [[nodiscard]] static std::filesystem::path ProgramFolder();

public slots:
    // Record and Play (press and hold with the left button), hover hints, level meter.
    void BitBtn1MouseDown(Qt::MouseButton button);
    void BitBtn1MouseMove();
    void BitBtn1MouseUp(Qt::MouseButton button);
    void BitBtn2MouseDown(Qt::MouseButton button);
    void BitBtn2MouseMove();
    void BitBtn2MouseUp(Qt::MouseButton button);
    void FormMouseMove();
    void Timer1Timer();
    // Space held on the focused Record or Play button: the same steps as a held left
    // button. Key auto-repeat is ignored, and a release counts only when no new press
    // follows within kKeyReleaseGraceMs (X servers may report a repeat's release as a
    // real one); losing the focus ends the hold at once.
    void SpaceDown(bool record, bool autoRepeat);
    void SpaceUp(bool autoRepeat);

    // Help and the About page's links.
    void BitBtn3Click();
    void Label6Click();
    void Label7Click();
    void Label9Click();
    void Label6MouseEnter();
    void Label6MouseLeave();
    void Label7MouseEnter();
    void Label7MouseLeave();
    void Label9MouseEnter();
    void Label9MouseLeave();
    // The licence's text (Label12, beside "Free software, licence:").
    void Label12Click();
    void Label12MouseEnter();
    void Label12MouseLeave();

    // Study page: enrolment, training, verification, users.
    void Button1Click();     // "Add phrase"
    void Button4Click();     // "Train system..."
    void VerifikateClick();  // "Verify"
    void Button2Click();     // "Add new user..."
    void Button3Click();     // "Remove user..."

    // Encode and Decode pages (MainCoding.cpp).
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void RadioGroup3Click();

public:
    // Encode page: the steps after files were chosen in OpenDialog1 (or dropped).
    void EncodeChosenFiles(const QStringList& files);
    // Decode page: the steps after files were chosen in OpenDialog2 (or dropped).
    void DecodeChosenFiles(const QStringList& files);
    // Files named on the program's command line: those the open dialog could not have offered
    // (missing, not encoded) are told and left out, the rest chosen as by the dialog.
    void DecodeGivenFiles(const QStringList& files);
    // Called once at the end of the constructor (drop targets of the coding pages).
    void SetupCodingPages();
    // The Encode page's user box shows the only registered user when it is empty.
    void PreselectSingleUser();

    // Frees the sample memory, the sound buffer and the user list (the window's
    // close). Safe to call more than once.
    void FormClose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // During a batch: asks whether to cancel it, and closes once it has stopped.
    void closeEvent(QCloseEvent* event) override;
    // Escape cancels a running batch.
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The work of eventFilter: the mouse on Record, Play, the window surface and links.
    bool FilterEvent(QObject* watched, QEvent* event);
    void LoadUsers();
    // Shows a step's message, if it has one; true when the step was done.
    bool Show(const quorvane::StepResult& result);
    // After a press that showed a device warning: the modal box took the mouse, so
    // the release may already have happened without reaching the button.
    void FinishHoldIfReleased(int shownBefore, Qt::MouseButton button);
    void AddUserName(const QString& name);
    // A phrase indicator's colour and the name a screen reader says for it.
    void SetPhraseIndicator(int slot, bool added);
    // The start and the end of a file batch: controls, CancelBatch, a pending close.
    void BatchStarted();
    void BatchFinished();
    // The constructor's parts, in their order: the meter's and the key hold's timers; the
    // result fields and phrase indicators; the status panel; the batch runner with Cancel; the
    // radio groups, buttons and shortcuts; Record and Play, the hover hints and the link labels.
    void SetUpTimers();
    void SetUpResultFields();
    void SetUpStatusBar();
    void SetUpBatchRunner();
    void SetUpCommands();
    void SetUpHoldAndLinks();
    // The accessible names and descriptions of the controls.
    void NameControls();
    void SetLinkUnderline(QLabel* label, bool underline);
    void ShowHelpWindow(const QUrl& page);
    void OpenLink(const QString& address);

    // Which press-and-hold button is down: only its left release ends the state.
    enum class Hold { None, Recording, Playing };

    Hold hold_ = Hold::None;
    // The hold Space started, the grace timer of its release, and whether a press
    // handler is still running (a modal warning inside it runs an event loop, in which
    // the release or a focus loss may arrive).
    // The key came up for good (grace time over) or the focus left the button.
    void KeyHoldReleased();
    void EndKeyHold();
    Hold keyHold_ = Hold::None;
    QTimer* keyRelease_ = nullptr;
    bool pressing_ = false;
    bool keyHoldEnded_ = false;
    QButtonGroup* radioGroup1_ = nullptr;
    QButtonGroup* radioGroup3_ = nullptr;
    ElidedLabel* statusPanel1_ = nullptr;
    QPushButton* cancelBatch_ = nullptr;
    // The controls a batch disabled, to be enabled again at its end.
    std::vector<QWidget*> disabledByBatch_;
    bool closeAfterBatch_ = false;  // the window was closed during a batch
    bool closed_ = false;
};
