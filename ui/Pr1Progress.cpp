#include "ui/Pr1Progress.h"

#include <QProgressBar>
#include <algorithm>

void Pr1Progress::SetRange(int minimum, int maximum) {
    if (bar_ != nullptr) {
        bar_->setRange(minimum, maximum);
        bar_->repaint();
    }
}

void Pr1Progress::SetStep(int step) {
    step_ = step;
}

void Pr1Progress::SetPosition(int position) {
    if (bar_ != nullptr) {
        bar_->setValue(std::clamp(position, bar_->minimum(), bar_->maximum()));
        bar_->repaint();
    }
}

void Pr1Progress::StepIt() {
    if (bar_ != nullptr) {
        bar_->setValue(std::min(bar_->value() + step_, bar_->maximum()));
        bar_->repaint();
    }
}
