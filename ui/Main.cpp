// The main window TForm1: its construction (the controls of the form, the timers Timer1 and
// the key hold's release timer, StatusBar1 with its status panel, the batch runner and its
// CancelBatch button, the radio groups, the wiring of every handler), the dialogs attached
// after it, and its closing (FormClose, closeEvent, also during a file batch). The handlers
// live in the rooms of their controls: MainStudy.cpp, MainHold.cpp, MainHelp.cpp,
// MainCoding.cpp, MainControls.cpp and MainEvents.cpp.

#include "ui/Main.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <utility>

#include "audio/SoundBuffer.h"
#include "ui/Accessible.h"
#include "ui/BatchRunner.h"
#include "ui/ElidedLabel.h"
#include "ui/HandlerGuard.h"
#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui/WidgetLooks.h"
#include "ui_Main.h"
#include "workflow/DataFolders.h"
#include "workflow/Messages.h"

// Resources of a static library are registered explicitly; Q_INIT_RESOURCE must be
// used outside any namespace.
static void InitQuorvaneResources() {
    Q_INIT_RESOURCE(resources);
}

namespace {

constexpr int kMeterIntervalMs = 200;  // level meter period, the interval of Timer1
constexpr int kStatusBarInset = 2;     // QStatusBar's space before its first item, in pixels

const QColor kLinkBlue(0x00, 0x00, 0xFF);

const QString kApplicationTitle = ui::ApplicationTitle();

using ui::FromUtf8;
using ui::PaintBlack;
using ui::RunGuarded;
using ui::SetBackground;
using ui::SetTextColour;

}  // namespace

const QColor TForm1::kClGreen(0x00, 0x80, 0x00);
const QColor TForm1::kClRed(0xFF, 0x00, 0x00);

// ---- Construction and closing ----

TForm1::TForm1(Prompt& prompt_, std::unique_ptr<quorvane::WaveDevice> device,
               std::filesystem::path speakers, QWidget* parent)
    : QMainWindow(parent),
      prompt(prompt_),
      front({.prompt = prompt_,
             .widget = *this,
             .securityDialog = [this] { return Form2; },
             .bar = pr1Progress,
             .userAdded = [this](const QString& name) { AddUserName(name); }}),
      users(std::move(speakers)),
      ui(std::make_unique<Ui::TForm1>()),
      installedHelpPages(quorvane::InstalledHelpPages(ProgramFolder())) {
    InitQuorvaneResources();
    // The controls, captions and names come from the form.
    ui->setupUi(this);
    pr1Progress.Attach(ui->Pr1);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QStringLiteral(":/quorvane/quorvane.png")));

    // The enrolment starts empty: no recording, three untrained phrases, no threshold.
    soundBuffer = std::make_unique<quorvane::SoundBuffer>(std::move(device), front);

    SetUpTimers();
    SetUpResultFields();
    SetUpStatusBar();
    SetUpBatchRunner();
    SetUpCommands();
    SetUpHoldAndLinks();
    NameControls();
    ui->DecodeChosen->hide();
    ShowStudyHint();
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

void TForm1::SetUpTimers() {
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
}

void TForm1::SetUpResultFields() {
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
}

void TForm1::SetUpStatusBar() {
    // Status bar: one panel across the whole width carries every status text (panel 0 of
    // the design stays empty, so it takes no room from the texts).
    statusPanel1_ = new ElidedLabel(this);
    statusPanel1_->setObjectName(QStringLiteral("StatusBar1Panel1"));
    statusPanel1_->Name(ui::kStatusName, QStringLiteral("What the last command did"));
    // The status bar sets its items 2 pixels in from the left; the text keeps as much from
    // the window's right edge.
    statusPanel1_->setContentsMargins(0, 0, kStatusBarInset, 0);
    ui->StatusBar1->addWidget(statusPanel1_, 1);
}

void TForm1::SetUpBatchRunner() {
    // File batches run off the interface thread; Cancel (or Escape) stops them. Cancel
    // shows beside Pr1 while a batch runs; the row keeps its height when it hides.
    batchRunner = new BatchRunner(
        front, pr1Progress, [this](const QString& text) { SetStatusText(text); }, this);
    cancelBatch_ = ui->CancelBatch;
    cancelBatch_->hide();
    ui->ProgressRow->setMinimumHeight(cancelBatch_->sizeHint().height());
    connect(cancelBatch_, &QPushButton::clicked, this, [this] {
        batchRunner->Cancel();
        cancelBatch_->setEnabled(false);
    });
    connect(batchRunner, &BatchRunner::started, this, [this] { BatchStarted(); });
    connect(batchRunner, &BatchRunner::finished, this, [this] { BatchFinished(); });
}

void TForm1::SetUpCommands() {
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
    // Ctrl+Tab and Ctrl+Shift+Tab change pages wherever the focus is, not only inside a page.
    const auto pageKeys = [this](QKeySequence keys, int step) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, step] {
            const int count = ui->PageControl1->count();
            ui->PageControl1->setCurrentIndex((ui->PageControl1->currentIndex() + step + count) %
                                              count);
        });
    };
    pageKeys(QKeySequence(Qt::CTRL | Qt::Key_Tab), 1);
    pageKeys(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1);
    pageKeys(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1);
}

void TForm1::SetUpHoldAndLinks() {
    // Press and hold, hover hints, the window's own surface and the link labels.
    ui->BitBtn1->setIcon(QIcon(QStringLiteral(":/quorvane/record.png")));
    ui->BitBtn2->setIcon(QIcon(QStringLiteral(":/quorvane/play.png")));
    ui->BitBtn3->setIcon(QIcon(QStringLiteral(":/quorvane/help.png")));
    for (QWidget* watched : {static_cast<QWidget*>(ui->BitBtn1), static_cast<QWidget*>(ui->BitBtn2),
                             ui->centralwidget}) {
        watched->setMouseTracking(true);
        watched->installEventFilter(this);
    }
    for (QLabel* link : {ui->Label6, ui->Label7, ui->Label9, ui->Label12}) {
        link->installEventFilter(this);
    }
    SetTextColour(ui->Label6, kLinkBlue);
    SetTextColour(ui->Label7, kLinkBlue);
    SetTextColour(ui->Label9, kClRed);
    SetTextColour(ui->Label12, kLinkBlue);
    ui->Label6->setToolTip(QStringLiteral("mailto:support@quorvane.example"));
    ui->Label7->setToolTip(QStringLiteral("mailto:security@quorvane.example"));
    ui->Label9->setToolTip(QStringLiteral("https://quorvane.example"));
    ui->Label12->setToolTip(kLicenceAddress);
    ui->Image3->setPixmap(QPixmap(QStringLiteral(":/quorvane/about.png")));
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
