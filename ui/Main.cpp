#include "ui/Main.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QColor>
#include <QCoreApplication>
#include <QCursor>
#include <QDialog>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSizePolicy>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <span>
#include <system_error>
#include <utility>

#include "audio/SoundBuffer.h"
#include "files/PathText.h"
#include "ui/Accessible.h"
#include "ui/BatchRunner.h"
#include "ui/PassphraseBox.h"
#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui/Secparam.h"
#include "ui_Main.h"
#include "workflow/DataFolders.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"

// Resources of a static library are registered explicitly; Q_INIT_RESOURCE must be
// used outside any namespace.
static void InitQuorvaneResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr int kMeterIntervalMs = 200;       // level meter period, the interval of Timer1
constexpr std::int32_t kFullScale = 32768;  // a 16-bit sample's full scale, for the meter
constexpr int kStatusPanel0Width = 100;
constexpr int kStatusPanel1Width = 50;

// What the status panel is for, said by screen readers while it shows nothing.
constexpr const char* kStatusDescription = "What the last command did";

const QColor kLinkBlue(0x00, 0x00, 0xFF);

const QString kApplicationTitle =
    QString::fromUtf8(quorvane::kApplicationTitle.data(), quorvane::kApplicationTitle.size());

void SetTextColour(QLabel* label, const QColor& colour) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void SetBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A result field's image: a black picture filling the label.
void PaintBlack(QLabel* image) {
    QPixmap picture(std::max(image->width(), 16), std::max(image->height(), 16));
    picture.fill(Qt::black);
    image->setPixmap(picture);
}

using ui::FromPath;
using ui::FromUtf8;
using ui::QtFilter;
using ui::ToPath;

// Runs one handler and shows an exception that escapes it in the exception box (the
// application title as caption, error icon) instead of letting it unwind through the
// toolkit's event delivery. The application object catches anything else.
template <typename Handler>
void RunGuarded(Prompt& prompt, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        prompt.Box(QString::fromUtf8(error.what()), kApplicationTitle, Prompt::Icon::Error);
    } catch (...) {
        prompt.Box(QString(), kApplicationTitle, Prompt::Icon::Error);
    }
}

// Shows the wait cursor while a long command runs on the interface thread.
class WaitCursor final {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

// ---- Adapters ----

void TForm1::WindowFrontEnd::Notice(const std::string& text) {
    ++shown_;
    form_.prompt.Message(FromUtf8(text));
}

void TForm1::WindowFrontEnd::Warning(const std::string& text, const std::string& caption) {
    ++shown_;
    form_.prompt.Box(FromUtf8(text), FromUtf8(caption), Prompt::Icon::Warning);
}

bool TForm1::WindowFrontEnd::Ask(std::string_view text, std::string_view caption, Icon icon) {
    return form_.prompt.Question(FromUtf8(text), FromUtf8(caption),
                                 static_cast<Prompt::Icon>(icon));
}

int TForm1::WindowFrontEnd::ChooseSecurityLevel() {
    if (form_.Form2 == nullptr) {
        return quorvane::kSecurityLow;
    }
    // The level is read whichever way the dialog was closed.
    static_cast<void>(form_.prompt.ShowModal(*form_.Form2));
    return form_.Form2->ItemIndex();
}

std::filesystem::path TForm1::WindowFrontEnd::ChooseKeyFile(std::string_view defaultName) {
    Prompt::FileDialogOptions options;
    options.title = FromUtf8(quorvane::kKeyFileDialogTitle);
    options.filter = QtFilter(quorvane::kKeyFileDialogFilter);
    options.defaultName = FromUtf8(defaultName);
    options.directory = ui::KeyFileFolder();
    const QString chosen = form_.prompt.SaveFile(options);
    return chosen.isEmpty() ? std::filesystem::path() : ToPath(chosen);
}

quorvane::FrontEnd::ReplaceAnswer TForm1::WindowFrontEnd::AskReplace(
    const std::filesystem::path& output) {
    return form_.prompt.Replace(FromUtf8(quorvane::ReplaceQuestion(quorvane::PathText(output))),
                                FromUtf8(quorvane::kReplaceCaption));
}

bool TForm1::WindowFrontEnd::AllowUnverified(const std::filesystem::path& file) {
    return form_.prompt.Question(FromUtf8(quorvane::UnverifiedQuestion(quorvane::PathText(file))),
                                 FromUtf8(quorvane::kUnverifiedCaption), Prompt::Icon::Warning);
}

quorvane::PassphraseAnswer TForm1::WindowFrontEnd::AskPassphrase(std::string_view name,
                                                                 bool confirm) {
    // A new passphrase is typed twice; two different entries are told and asked again.
    for (;;) {
        PassphraseBox box(FromUtf8(name), confirm, &form_);
        if (form_.prompt.ShowModal(box) != QDialog::Accepted) {
            return {};
        }
        quorvane::PassphraseAnswer answer;
        answer.passphrase = box.TakePassphrase();
        answer.remember = box.Remember();
        if (!confirm || box.TakeAgain() == answer.passphrase) {
            answer.given = true;
            return answer;
        }
        Notice(std::string(quorvane::kPassphrasesDiffer));
    }
}

void TForm1::WindowFrontEnd::UserAdded(std::string_view name) {
    form_.AddUserName(FromUtf8(name));
}

quorvane::Progress& TForm1::WindowFrontEnd::Bar() {
    return form_.pr1Progress;
}

const QColor TForm1::kClGreen(0x00, 0x80, 0x00);
const QColor TForm1::kClRed(0xFF, 0x00, 0x00);

void TForm1::Pr1Progress::SetRange(int minimum, int maximum) {
    if (bar_ != nullptr) {
        bar_->setRange(minimum, maximum);
        bar_->repaint();
    }
}

void TForm1::Pr1Progress::SetStep(int step) {
    step_ = step;
}

void TForm1::Pr1Progress::SetPosition(int position) {
    if (bar_ != nullptr) {
        bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum()));
        bar_->repaint();
    }
}

void TForm1::Pr1Progress::StepIt() {
    if (bar_ != nullptr) {
        bar_->setValue(std::min(bar_->value() + step_, bar_->maximum()));
        bar_->repaint();
    }
}

// ---- Construction and closing ----

TForm1::TForm1(Prompt& prompt_, std::unique_ptr<quorvane::WaveDevice> device,
               std::filesystem::path speakers, QWidget* parent)
    : QMainWindow(parent),
      prompt(prompt_),
      front(*this),
      users(std::move(speakers)),
      ui(std::make_unique<Ui::TForm1>()) {
    InitQuorvaneResources();
    // The controls, captions and names come from the form.
    ui->setupUi(this);
    pr1Progress.Attach(ui->Pr1);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/quorvane/quorvane.png")));

    // The enrolment starts empty: no recording, three untrained phrases, no threshold.
    soundBuffer = std::make_unique<quorvane::SoundBuffer>(std::move(device), front);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kMeterIntervalMs);
    Timer1->stop();
    connect(Timer1, &QTimer::timeout, this,
            [this] { RunGuarded(prompt, [this] { Timer1Timer(); }); });
    keyRelease_ = new QTimer(this);
    keyRelease_->setSingleShot(true);
    keyRelease_->setInterval(kKeyReleaseGraceMs);
    connect(keyRelease_, &QTimer::timeout, this,
            [this] { RunGuarded(prompt, [this] { KeyHoldReleased(); }); });

    // Result fields: black images with their labels over them.
    PaintBlack(ui->Image1);
    PaintBlack(ui->Image2);
    for (QLabel* result : {ui->Label2, ui->Label4}) {
        SetBackground(result, Qt::black);
        result->setMinimumHeight(30);
    }
    QFont verdict2(QStringLiteral("Times New Roman"));
    verdict2.setPixelSize(16);
    verdict2.setBold(true);
    ui->Label2->setFont(verdict2);
    SetTextColour(ui->Label2, kClRed);
    QFont verdict4(QStringLiteral("Tahoma"));
    verdict4.setPixelSize(16);
    ui->Label4->setFont(verdict4);
    SetTextColour(ui->Label4, kClGreen);

    // Phrase indicators: red until their slot receives a phrase.
    for (int slot = 0; slot < 3; ++slot) {
        SetPhraseIndicator(slot, false);
    }

    // Status bar: panel 0 stays empty, panel 1 carries every status text.
    statusPanel0_ = new QLabel(this);
    statusPanel0_->setObjectName(QStringLiteral("StatusBar1Panel0"));
    statusPanel0_->setMinimumWidth(kStatusPanel0Width);
    statusPanel1_ = new QLabel(this);
    statusPanel1_->setObjectName(QStringLiteral("StatusBar1Panel1"));
    statusPanel1_->setMinimumWidth(kStatusPanel1Width);
    // The panel takes the width that is left; a longer text goes whole into its tooltip.
    statusPanel1_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusPanel1_->installEventFilter(this);
    ui->StatusBar1->addWidget(statusPanel0_);
    ui->StatusBar1->addWidget(statusPanel1_, 1);

    // File batches run off the interface thread; Cancel (or Escape) stops them.
    batchRunner = new BatchRunner(
        front, pr1Progress, [this](const QString& text) { SetStatusText(text); }, this);
    cancelBatch_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelBatch_->setObjectName(QStringLiteral("CancelBatch"));
    cancelBatch_->hide();
    ui->StatusBar1->addPermanentWidget(cancelBatch_);
    connect(cancelBatch_, &QPushButton::clicked, this, [this] {
        batchRunner->Cancel();
        cancelBatch_->setEnabled(false);
    });
    connect(batchRunner, &BatchRunner::started, this, [this] { BatchStarted(); });
    connect(batchRunner, &BatchRunner::finished, this, [this] { BatchFinished(); });

    // Radio groups as item indices.
    radioGroup1_ = new QButtonGroup(this);
    radioGroup1_->addButton(ui->RadioGroup1_0, 0);
    radioGroup1_->addButton(ui->RadioGroup1_1, 1);
    radioGroup1_->addButton(ui->RadioGroup1_2, 2);
    radioGroup3_ = new QButtonGroup(this);
    radioGroup3_->addButton(ui->RadioGroup3_0, 0);
    radioGroup3_->addButton(ui->RadioGroup3_1, 1);
    connect(radioGroup3_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            RunGuarded(prompt, [this] { RadioGroup3Click(); });
        }
    });

    // Buttons.
    const auto onClick = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { RunGuarded(prompt, [this, handler] { (this->*handler)(); }); });
    };
    onClick(ui->BitBtn3, &TForm1::BitBtn3Click);
    onClick(ui->Button1, &TForm1::Button1Click);
    onClick(ui->Button4, &TForm1::Button4Click);
    onClick(ui->Verifikate, &TForm1::VerifikateClick);
    onClick(ui->Button2, &TForm1::Button2Click);
    onClick(ui->Button3, &TForm1::Button3Click);
    onClick(ui->Button5, &TForm1::Button5Click);
    onClick(ui->Button6, &TForm1::Button6Click);
    onClick(ui->Button7, &TForm1::Button7Click);
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this,
            [this] { RunGuarded(prompt, [this] { BitBtn3Click(); }); });

    // Press and hold, hover hints, the window's own surface and the link labels.
    ui->BitBtn1->setIcon(QIcon(QStringLiteral(":/quorvane/record.png")));
    ui->BitBtn2->setIcon(QIcon(QStringLiteral(":/quorvane/play.png")));
    ui->BitBtn3->setIcon(QIcon(QStringLiteral(":/quorvane/help.png")));
    for (QWidget* watched : {static_cast<QWidget*>(ui->BitBtn1), static_cast<QWidget*>(ui->BitBtn2),
                             ui->centralwidget}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(this);
    }
    for (QLabel* link : {ui->Label6, ui->Label7, ui->Label9}) {
        link->installEventFilter(this);
    }
    SetTextColour(ui->Label6, kLinkBlue);
    SetTextColour(ui->Label7, kLinkBlue);
    SetTextColour(ui->Label9, kClRed);
    ui->Label6->setToolTip(QStringLiteral("mailto:support@quorvane.example"));
    ui->Label7->setToolTip(QStringLiteral("mailto:security@quorvane.example"));
    ui->Label9->setToolTip(QStringLiteral("https://quorvane.example"));
    ui->Image3->setPixmap(QPixmap(QStringLiteral(":/quorvane/about.png")));

    NameControls();
    ui->PageControl1->setCurrentIndex(0);

    // The registered users of the Speakers folder.
    LoadUsers();

    SetupCodingPages();

    // A fixed window, at least the size of its design, centred on the desktop.
    const QSize size = QSize(317, 344).expandedTo(sizeHint());
    setFixedSize(size);
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
}

TForm1::~TForm1() {
    FormClose();
}

void TForm1::AttachDialogs(TForm2& form2, TForm3& form3, TForm4& form4) {
    Form2 = &form2;
    Form3 = &form3;
    Form4 = &form4;
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (BatchRunning()) {
        // The window closes once the batch has stopped and cleaned up after itself.
        event->ignore();
        if (closeAfterBatch_) {
            return;
        }
        // The batch waits after its current chunk while the question is open.
        batchRunner->Pause();
        const bool cancel = prompt.Question(FromUtf8(quorvane::kCancelBatchQuestion),
                                            kApplicationTitle, Prompt::Icon::Question);
        if (!cancel) {
            batchRunner->Resume();
            return;
        }
        closeAfterBatch_ = true;
        batchRunner->Cancel();
        if (!BatchRunning()) {
            // It ended while the question was open.
            QTimer::singleShot(0, this, &QWidget::close);
        }
        return;
    }
    if (closeAfterBatch_) {
        // Closed on the answer to the question during a batch: what the batch did (how far it
        // came, or that it finished), before the window goes.
        closeAfterBatch_ = false;
        prompt.Message(StatusText());
    }
    FormClose();
    event->accept();
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && BatchRunning()) {
        cancelBatch_->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool TForm1::RunFileBatch(const std::vector<std::filesystem::path>& inputs,
                          const std::function<void(quorvane::BatchFrontEnd& front)>& work) {
    return batchRunner->Run(inputs, work);
}

bool TForm1::BatchRunning() const {
    return batchRunner != nullptr && batchRunner->Running();
}

void TForm1::BatchStarted() {
    // Nothing that starts another command while the batch runs; the pages stay readable.
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui->BitBtn1, ui->BitBtn2, ui->Button1, ui->Button4, ui->Verifikate, ui->Button2,
             ui->Button3, ui->Button5, ui->Button6, ui->Button7}) {
        if (control->isEnabled()) {
            control->setEnabled(false);
            disabledByBatch_.push_back(control);
        }
    }
    cancelBatch_->setEnabled(true);
    cancelBatch_->show();
}

void TForm1::BatchFinished() {
    for (QWidget* control : disabledByBatch_) {
        control->setEnabled(true);
    }
    disabledByBatch_.clear();
    cancelBatch_->hide();
    if (closeAfterBatch_) {
        // After the handler that ran the batch has shown its summary.
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TForm1::FormClose() {
    if (closed_) {
        return;
    }
    closed_ = true;
    if (Timer1 != nullptr) {
        Timer1->stop();
    }
    if (keyRelease_ != nullptr) {
        keyRelease_->stop();
    }
    hold_ = Hold::None;
    keyHold_ = Hold::None;
    enrolment.Release();
    // Stops and closes a direction still open (a button held while the window closes).
    soundBuffer.reset();
    users.Release();
}

std::filesystem::path TForm1::ProgramFolder() {
    return ToPath(QCoreApplication::applicationDirPath());
}

// ---- Small helpers ----

void TForm1::SetStatusText(const QString& text) {
    statusPanel1_->setText(text);
    ui::NameAfterText(*statusPanel1_, ui::kStatusName);
    FitStatusText();
}

void TForm1::FitStatusText() {
    const QString text = statusPanel1_->text();
    const bool fits = statusPanel1_->fontMetrics().horizontalAdvance(text) <=
                      statusPanel1_->contentsRect().width();
    statusPanel1_->setToolTip(fits ? QString() : text);
    statusPanel1_->setAccessibleDescription(text.isEmpty() ? QString::fromUtf8(kStatusDescription)
                                                           : text);
}

QString TForm1::StatusText() const {
    return statusPanel1_->text();
}

int TForm1::RadioGroup1ItemIndex() const {
    return radioGroup1_->checkedId();
}

void TForm1::SetRadioGroup1ItemIndex(int index) {
    if (QAbstractButton* button = radioGroup1_->button(index); button != nullptr) {
        button->setChecked(true);
    }
}

int TForm1::RadioGroup3ItemIndex() const {
    return radioGroup3_->checkedId();
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
        {ui->Label2, ui::kVerificationResultName.data(), "The result of Verify"},
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
        {ui->Label4, ui::kDecodingResultName.data(),
         "The result of the voice verification for decoding"},
        {ui->Button7, "Recognize/Decode...",
         "Verify the recording or enter the key, then decode the chosen files"},
        {statusPanel1_, ui::kStatusName.data(), kStatusDescription},
        {cancelBatch_, "Cancel", "Stop encoding or decoding after the part in work (Escape)"},
    };
    for (const Named& named : controls) {
        named.control->setAccessibleName(QString::fromUtf8(named.name));
        named.control->setAccessibleDescription(QString::fromUtf8(named.description));
    }
    // The result fields are heard by what they show.
    ui::NameAfterText(*ui->Label2, ui::kVerificationResultName);
    ui::NameAfterText(*ui->Label4, ui::kDecodingResultName);
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

bool TForm1::Show(const quorvane::StepResult& result) {
    if (!result.message.empty()) {
        prompt.Message(FromUtf8(result.message));
    }
    return result.done;
}

// ---- Mouse events of the buttons, the window surface and the links ----

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    bool consumed = false;
    RunGuarded(prompt, [&] { consumed = FilterEvent(watched, event); });
    return consumed;
}

bool TForm1::FilterEvent(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == ui->BitBtn1 || watched == ui->BitBtn2) {
        const bool record = watched == ui->BitBtn1;
        if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() != Qt::Key_Space) {
                return false;
            }
            // The button's own Space handling (a click) is replaced by the hold.
            type == QEvent::KeyPress ? SpaceDown(record, key->isAutoRepeat())
                                     : SpaceUp(key->isAutoRepeat());
            return true;
        }
        if (type == QEvent::FocusOut && keyHold_ != Hold::None) {
            KeyHoldReleased();
            return false;
        }
        if (type == QEvent::MouseMove) {
            record ? BitBtn1MouseMove() : BitBtn2MouseMove();
        } else if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) {
            const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
            record ? BitBtn1MouseDown(button) : BitBtn2MouseDown(button);
            // A hold that has already ended (its release went to a warning box) leaves
            // the button up instead of waiting for a release that will not come.
            if (button == Qt::LeftButton && hold_ == Hold::None) {
                return true;
            }
        } else if (type == QEvent::MouseButtonRelease) {
            const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
            record ? BitBtn1MouseUp(button) : BitBtn2MouseUp(button);
        }
        // The button still draws itself pressed and released.
        return false;
    }
    if (watched == statusPanel1_) {
        if (type == QEvent::Resize) {
            FitStatusText();
        }
        return false;
    }
    if (watched == ui->centralwidget) {
        // Only the window's own surface: moves over a child control that the child
        // passed on to its parent do not count.
        if (type == QEvent::MouseMove &&
            ui->centralwidget->childAt(static_cast<QMouseEvent*>(event)->position().toPoint()) ==
                nullptr) {
            FormMouseMove();
        }
        return false;
    }
    if (watched == ui->Label6 || watched == ui->Label7 || watched == ui->Label9) {
        auto* label = static_cast<QLabel*>(watched);
        if (type == QEvent::Enter) {
            label == ui->Label6   ? Label6MouseEnter()
            : label == ui->Label7 ? Label7MouseEnter()
                                  : Label9MouseEnter();
        } else if (type == QEvent::Leave) {
            label == ui->Label6   ? Label6MouseLeave()
            : label == ui->Label7 ? Label7MouseLeave()
                                  : Label9MouseLeave();
        } else if (type == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::LeftButton &&
                label->rect().contains(mouse->position().toPoint())) {
                label == ui->Label6   ? Label6Click()
                : label == ui->Label7 ? Label7Click()
                                      : Label9Click();
            }
        }
        return false;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- Record and Play ----

void TForm1::BitBtn1MouseMove() {
    SetStatusText(QStringLiteral("Press and hold to record sound"));
}

void TForm1::BitBtn2MouseMove() {
    SetStatusText(QStringLiteral("Press and hold to play recorded sound"));
}

void TForm1::FormMouseMove() {
    SetStatusText(QString());
}

void TForm1::BitBtn1MouseDown(Qt::MouseButton button) {
    ui->Pr1->setRange(0, 100);
    ui->Pr1->setValue(0);
    pr1Progress.SetStep(1);
    ui->Label2->setText(QString());
    ui::NameAfterText(*ui->Label2, ui::kVerificationResultName);
    SetTextColour(ui->Label4, kClGreen);
    ui->Label4->setText(QStringLiteral("Result"));
    ui::NameAfterText(*ui->Label4, ui::kDecodingResultName);
    // Only a left press starts a recording, and only when no button is held already.
    if (button != Qt::LeftButton || hold_ != Hold::None || !soundBuffer) {
        return;
    }
    SetStatusText(QStringLiteral("Release button to stop recording"));
    const std::span<std::int16_t> pcm = soundBuffer->Pcm();
    std::fill(pcm.begin(), pcm.end(), std::int16_t{0});
    enrolment.DropRecording();
    hold_ = Hold::Recording;
    const int shownBefore = front.Shown();
    soundBuffer->Open("In");
    soundBuffer->StartRecording();
    elapsedMs = 0;
    Timer1->start();
    FinishHoldIfReleased(shownBefore, button);
}

void TForm1::FinishHoldIfReleased(int shownBefore, Qt::MouseButton button) {
    if (front.Shown() == shownBefore || (QGuiApplication::mouseButtons() & button) != 0) {
        return;
    }
    if (hold_ == Hold::Recording) {
        BitBtn1MouseUp(button);
    } else if (hold_ == Hold::Playing) {
        BitBtn2MouseUp(button);
    }
}

void TForm1::BitBtn1MouseUp(Qt::MouseButton button) {
    if (button != Qt::LeftButton || hold_ != Hold::Recording || !soundBuffer) {
        return;
    }
    hold_ = Hold::None;
    Timer1->stop();
    const std::int32_t position = soundBuffer->RecordingPosition();
    soundBuffer->Stop("In");
    soundBuffer->Close("In");
    elapsedMs = 0;
    ui->Pr1->setValue(0);

    // The bytes taken at the stop decide the length; when they give nothing beyond the
    // dropped start, the position read just before the stop does.
    const std::int32_t captured =
        std::clamp(quorvane::CapturedSampleCount(soundBuffer->RecordedBytes(), position), 0,
                   soundBuffer->Capacity());
    const std::span<const std::int16_t> recording =
        std::span<const std::int16_t>(soundBuffer->Pcm()).first(static_cast<std::size_t>(captured));
    const quorvane::LevelCheckResult check = enrolment.TakeRecording(recording);
    if (!check.recorded) {
        prompt.Message(FromUtf8(quorvane::kSoundNotRecordedText));
        return;
    }
    for (const quorvane::LevelWarning& warning : check.Warnings()) {
        prompt.Box(FromUtf8(warning.text), FromUtf8(warning.caption), Prompt::Icon::Warning);
    }
}

void TForm1::BitBtn2MouseDown(Qt::MouseButton button) {
    if (button != Qt::LeftButton || hold_ != Hold::None || !soundBuffer) {
        return;
    }
    ui->Pr1->setRange(0, 100);
    ui->Pr1->setValue(0);
    pr1Progress.SetStep(1);
    SetStatusText(QStringLiteral("Release button to stop playing"));
    hold_ = Hold::Playing;
    const int shownBefore = front.Shown();
    soundBuffer->Open("Out");
    elapsedMs = 0;
    Timer1->start();
    soundBuffer->StartPlaying();
    FinishHoldIfReleased(shownBefore, button);
}

void TForm1::BitBtn2MouseUp(Qt::MouseButton button) {
    if (button != Qt::LeftButton || hold_ != Hold::Playing || !soundBuffer) {
        return;
    }
    hold_ = Hold::None;
    Timer1->stop();
    soundBuffer->Stop("Out");
    soundBuffer->Close("Out");
    ui->Pr1->setValue(0);
    elapsedMs = 0;
}

void TForm1::SpaceDown(bool record, bool autoRepeat) {
    if (keyRelease_->isActive()) {
        // A press within the grace time: the key never came up.
        keyRelease_->stop();
        return;
    }
    if (autoRepeat || keyHold_ != Hold::None || hold_ != Hold::None) {
        return;
    }
    keyHold_ = record ? Hold::Recording : Hold::Playing;
    (record ? ui->BitBtn1 : ui->BitBtn2)->setDown(true);
    pressing_ = true;
    keyHoldEnded_ = false;
    record ? BitBtn1MouseDown(Qt::LeftButton) : BitBtn2MouseDown(Qt::LeftButton);
    pressing_ = false;
    // A hold that a warning box already ended, or whose key came up meanwhile.
    if (hold_ == Hold::None || keyHoldEnded_) {
        EndKeyHold();
    }
}

void TForm1::SpaceUp(bool autoRepeat) {
    if (!autoRepeat && keyHold_ != Hold::None) {
        keyRelease_->start();
    }
}

void TForm1::KeyHoldReleased() {
    keyRelease_->stop();
    // Inside the press handler the hold ends once the press has finished.
    if (pressing_) {
        keyHoldEnded_ = true;
    } else {
        EndKeyHold();
    }
}

void TForm1::EndKeyHold() {
    keyRelease_->stop();
    const Hold held = std::exchange(keyHold_, Hold::None);
    if (held == Hold::Recording) {
        ui->BitBtn1->setDown(false);
        BitBtn1MouseUp(Qt::LeftButton);
    } else if (held == Hold::Playing) {
        ui->BitBtn2->setDown(false);
        BitBtn2MouseUp(Qt::LeftButton);
    }
}

void TForm1::Timer1Timer() {
    if (!soundBuffer) {
        return;
    }
    // The meter follows the clock: each tick reads the 200 ms of the buffer the device
    // should have reached by now (2205 samples at 11025 Hz), never beyond the buffer.
    const std::int64_t rate = soundBuffer->Rate();
    const std::int64_t capacity = soundBuffer->Capacity();
    const std::int64_t start = std::min(rate * elapsedMs / 1000, capacity);
    elapsedMs += Timer1->interval();
    const std::int64_t end = std::min(rate * elapsedMs / 1000, capacity);
    if (end <= start) {
        ui->Pr1->setValue(0);
        return;
    }
    // While capturing, samples the device has not written yet are read as the zeros
    // the press put there, without touching memory the device may be writing.
    std::int64_t readable = end;
    if (hold_ == Hold::Recording) {
        readable = std::clamp<std::int64_t>(soundBuffer->RecordingPosition(), start, end);
    }
    const std::span<const std::int16_t> pcm = soundBuffer->Pcm();
    std::int64_t sum = 0;
    for (std::int64_t i = start; i < readable; ++i) {
        sum += std::abs(static_cast<std::int32_t>(pcm[static_cast<std::size_t>(i)]));
    }
    const std::int64_t mean = sum / (end - start);
    ui->Pr1->setValue(static_cast<int>(std::min<std::int64_t>(mean * 100 / kFullScale, 100)));
}

// ---- Help and About ----

void TForm1::BitBtn3Click() {
    const std::filesystem::path help = quorvane::HelpPage(ProgramFolder());
    std::error_code error;
    const bool present = std::filesystem::is_regular_file(help, error);
    if (!present) {
        prompt.Box(QStringLiteral("Cannot open help file. File may have been moved or deleted."),
                   QStringLiteral("Error!"), Prompt::Icon::Warning);
        return;
    }
    const QUrl page = QUrl::fromLocalFile(FromPath(help));
    if (!prompt.OpenUrl(page.toString())) {
        // No browser to hand it to: the page is there, so the program shows it itself.
        ShowHelpWindow(page);
    }
}

void TForm1::ShowHelpWindow(const QUrl& page) {
    if (helpWindow == nullptr) {
        helpWindow = new QDialog(this, Qt::Window);
        helpWindow->setObjectName(QStringLiteral("HelpWindow"));
        helpWindow->setWindowTitle(QStringLiteral("Help"));
        auto* layout = new QVBoxLayout(helpWindow);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* browser = new QTextBrowser(helpWindow);
        browser->setObjectName(QStringLiteral("HelpBrowser"));
        browser->setAccessibleName(QStringLiteral("Help"));
        // Addresses beyond the page go to the desktop, as the About links do.
        browser->setOpenExternalLinks(true);
        layout->addWidget(browser);
        helpWindow->resize(640, 520);
    }
    auto* browser = helpWindow->findChild<QTextBrowser*>(QStringLiteral("HelpBrowser"));
    browser->setSource(page);
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
}

void TForm1::OpenLink(const QString& address) {
    // A link that cannot be opened (no mail program, no browser) fails silently.
    static_cast<void>(prompt.OpenUrl(address));
}

void TForm1::Label6Click() {
    OpenLink(QStringLiteral("mailto:support@quorvane.example"));
}
void TForm1::Label7Click() {
    OpenLink(QStringLiteral("mailto:security@quorvane.example"));
}
void TForm1::Label9Click() {
    OpenLink(QStringLiteral("https://quorvane.example"));
}

void TForm1::SetLinkUnderline(QLabel* label, bool underline) {
    // The style is replaced, not combined: underline only, or plain.
    QFont font = label->font();
    font.setUnderline(underline);
    font.setBold(false);
    font.setItalic(false);
    font.setStrikeOut(false);
    label->setFont(font);
}

void TForm1::Label6MouseEnter() {
    SetLinkUnderline(ui->Label6, true);
}
void TForm1::Label6MouseLeave() {
    SetLinkUnderline(ui->Label6, false);
}
void TForm1::Label7MouseEnter() {
    SetLinkUnderline(ui->Label7, true);
}
void TForm1::Label7MouseLeave() {
    SetLinkUnderline(ui->Label7, false);
}
void TForm1::Label9MouseEnter() {
    SetLinkUnderline(ui->Label9, true);
}
void TForm1::Label9MouseLeave() {
    SetLinkUnderline(ui->Label9, false);
}

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
