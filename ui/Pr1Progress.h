#pragma once

// Pr1, the progress bar at the bottom of the main window, as the core's progress interface
// (training, file batches). It repaints the bar at each change, since training runs on the
// interface thread.

#include "interfaces/Progress.h"

class QProgressBar;

class Pr1Progress final : public quorvane::Progress {
public:
    Pr1Progress() = default;
    void Attach(QProgressBar* bar) { bar_ = bar; }
    void SetRange(int minimum, int maximum) override;
    void SetStep(int step) override;
    void SetPosition(int position) override;
    void StepIt() override;

private:
    QProgressBar* bar_ = nullptr;  // ui->Pr1, attached once the form is built
    int step_ = 1;
};
