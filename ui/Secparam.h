#pragma once

#include <QDialog>
#include <memory>

class QButtonGroup;

namespace Ui {
class TForm2;
}

// "Security parameters": the user picks the security level of the threshold that
// "Train system..." takes (0 High, 1 Medium, 2 Low; Low at start). The dialog is
// created once and only hidden after use, so it keeps the last level within a run.
class TForm2 final : public QDialog {
    Q_OBJECT

public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    // The item index of RadioGroup1: the chosen security level.
    [[nodiscard]] int ItemIndex() const;
    void SetItemIndex(int index);

    // The controls, by their form names (ui->RadioGroup1_0, ui->Label2, ui->Button1 ...).
    std::unique_ptr<Ui::TForm2> ui;

public slots:
    // The two lines that describe the chosen level.
    void RadioGroup1Click();
    // Closes the dialog, which ends its modal show.
    void Button1Click();

private:
    QButtonGroup* radioGroup1_ = nullptr;
};
