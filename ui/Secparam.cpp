#include "ui/Secparam.h"

#include <QButtonGroup>
#include <QGuiApplication>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>
#include <array>

#include "ui/TitleBar.h"
#include "ui_Secparam.h"

namespace {

struct LevelText {
    const char* far;
    const char* frr;
};

// Label2 and Label3 for High, Medium and Low.
constexpr std::array<LevelText, 3> kLevelTexts{{
    {"the lowest False acceptance rate (FAR)", "and the biggest False reject rate (FRR)"},
    {"medium False acceptance rate (FAR)", "and medium False reject rate (FRR)"},
    {"the biggest False acceptance rate (FAR)", "and low False reject rate (FRR)"},
}};

}  // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TForm2>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    radioGroup1_ = new QButtonGroup(this);
    radioGroup1_->addButton(ui->RadioGroup1_0, 0);
    radioGroup1_->addButton(ui->RadioGroup1_1, 1);
    radioGroup1_->addButton(ui->RadioGroup1_2, 2);
    connect(radioGroup1_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) {
            RadioGroup1Click();
        }
    });
    connect(ui->Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    RadioGroup1Click();

    // A fixed dialog, at least its design size and as wide as its whole caption, centred on
    // the desktop.
    const QSize size = QSize(std::max(328, ui::TitleBarWidth(*this)), 168).expandedTo(sizeHint());
    setFixedSize(size);
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(size.width() / 2, size.height() / 2));
    }
}

TForm2::~TForm2() = default;

int TForm2::ItemIndex() const {
    return radioGroup1_->checkedId();
}

void TForm2::SetItemIndex(int index) {
    if (QAbstractButton* button = radioGroup1_->button(index); button != nullptr) {
        button->setChecked(true);
    }
}

void TForm2::RadioGroup1Click() {
    const int index = ItemIndex();
    if (index < 0 || index >= static_cast<int>(kLevelTexts.size())) {
        return;
    }
    ui->Label2->setText(QString::fromLatin1(kLevelTexts[static_cast<std::size_t>(index)].far));
    ui->Label3->setText(QString::fromLatin1(kLevelTexts[static_cast<std::size_t>(index)].frr));
}

void TForm2::Button1Click() {
    accept();
}
