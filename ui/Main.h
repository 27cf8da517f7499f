#pragma once

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "analysis/VoiceCodebook.h"
#include "speaker/UserList.h"

class Prompt;
class QProgressBar;
class QLabel;
class QTimer;
class QButtonGroup;
class QCloseEvent;
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
// The Encode/Decode handlers (Button5Click, Button6Click, Button7Click,
// RadioGroup3Click, EncodeChosenFiles, DecodeChosenFiles, SetupCodingPages) live in
// MainCoding.cpp; everything else in Main.cpp.
class TForm1 final : public QMainWindow {
    Q_OBJECT

public:
    // Samples recordedSamples holds: 30 seconds at 11025 Hz.
    static constexpr std::int32_t kRecordedCapacity = 330750;

    // Forwards the core's notices to the prompt: Notice as the simple message box,
    // Warning as a box with its caption and the warning icon.
    class PromptNotifier final : public quorvane::Notifier {
    public:
        explicit PromptNotifier(Prompt& prompt) : prompt_(prompt) {}
        void Notice(const std::string& text) override;
        void Warning(const std::string& text, const std::string& caption) override;
        // How many notices were shown so far.
        [[nodiscard]] int Shown() const { return shown_; }

    private:
        Prompt& prompt_;
        int shown_ = 0;
    };

    // Pr1 as the core's progress interface (training, file batches). Repaints the
    // bar at each change, since the long operations run on the interface thread.
    class Pr1Progress final : public quorvane::Progress {
    public:
        Pr1Progress() = default;
        void Attach(QProgressBar* bar) { bar_ = bar; }
        void SetRange(int minimum, int maximum) override;
        void SetStep(int step) override;
        void SetPosition(int position) override;
        void StepIt() override;
        [[nodiscard]] int Step() const { return step_; }

    private:
        QProgressBar* bar_ = nullptr;  // ui->Pr1, attached once the form is built
        int step_ = 1;
    };

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

    // ---- Shared state, read and written by the handlers (in this order) ----
    std::filesystem::path speakersDir;  // folder of the speaker files
    PromptNotifier notifier;            // must outlive soundBuffer
    std::unique_ptr<quorvane::SoundBuffer> soundBuffer;
    std::int32_t elapsedMs = 0;  // level meter clock while Record or Play is held
    std::array<quorvane::VoiceCodebook, 3> phraseCodebooks;  // slot i = phrase i+1
    float trainedThreshold = -1.0f;             // not above 0: the system is not trained
    quorvane::UserList userList;                // the registered users, in list order
    bool phraseAdded = false;                   // the current recording was added as a phrase
    std::vector<std::int16_t> recordedSamples;  // kRecordedCapacity samples
    std::int32_t recordedCount = 0;             // valid samples; 0: no usable recording
    QStringList decodeFiles;                    // the files chosen by "Open file(s) to decode..."

    Prompt& prompt;
    Pr1Progress pr1Progress;
    TForm2* Form2 = nullptr;
    TForm3* Form3 = nullptr;
    TForm4* Form4 = nullptr;

    // The controls, by their form names: ui->Button1, ui->Pr1, ui->ComboBox1 ...
    std::unique_ptr<Ui::TForm1> ui;
    QTimer* Timer1 = nullptr;  // 200 ms level meter, runs only while a button is held

    // ---- Helpers for the handlers ----
    // Panel 1 (the second) of StatusBar1; panel 0 stays empty.
    void SetStatusText(const QString& text);
    [[nodiscard]] QString StatusText() const;
    // Item index of RadioGroup1 ("Add phrases to the user") and RadioGroup3
    // ("Decoding type"); -1 when none is checked.
    [[nodiscard]] int RadioGroup1ItemIndex() const;
    void SetRadioGroup1ItemIndex(int index);
    [[nodiscard]] int RadioGroup3ItemIndex() const;
    void SetRadioGroup3ItemIndex(int index);
    // ComboBox2 and ComboBox3 cleared and given a copy of ComboBox1's items.
    void RefillUserBoxes();
    // Whether a phrase slot's indicator (Panel1..Panel3) shows green.
    [[nodiscard]] bool PhraseIndicatorGreen(int slot) const;

    // The threshold as "Train system..." shows it: general notation, up to 15
    // significant digits ("0.5", "0.100000001490116").
    [[nodiscard]] static QString GeneralText(float value);
    // A figure as "Verify" shows it: fixed notation, 5 significant digits, 4 digits
    // after the point ("0.5000", "123.4600").
    [[nodiscard]] static QString FixedText(float value);

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
    // Called once at the end of the constructor (drop targets of the coding pages).
    void SetupCodingPages();

    // Frees the sample memory, the sound buffer and the user list (the window's
    // close). Safe to call more than once.
    void FormClose();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The work of eventFilter: the mouse on Record, Play, the window surface and links.
    bool FilterEvent(QObject* watched, QEvent* event);
    void LoadUsers();
    // After a press that showed a device warning: the modal box took the mouse, so
    // the release may already have happened without reaching the button.
    void FinishHoldIfReleased(int shownBefore, Qt::MouseButton button);
    void AddUserName(const QString& name);
    void SetLinkUnderline(QLabel* label, bool underline);
    void OpenLink(const QString& address);

    // Which press-and-hold button is down: only its left release ends the state.
    enum class Hold { None, Recording, Playing };

    Hold hold_ = Hold::None;
    QButtonGroup* radioGroup1_ = nullptr;
    QButtonGroup* radioGroup3_ = nullptr;
    QLabel* statusPanel0_ = nullptr;
    QLabel* statusPanel1_ = nullptr;
    bool closed_ = false;
};
