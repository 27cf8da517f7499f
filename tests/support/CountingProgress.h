#pragma once

// A progress bar for tests: keeps the state a bar would show and counts the steps.

#include "interfaces/Progress.h"

namespace quorvane {

// Tracks the state a progress bar would show.
class CountingProgress final : public Progress {
public:
    void SetRange(int minimum, int maximum) override {
        min = minimum;
        max = maximum;
    }
    void SetStep(int s) override { step = s; }
    void SetPosition(int p) override { position = p; }
    void StepIt() override {
        position += step;
        if (position > max) {
            position = max;
        }
        ++steps;
        if (position > highest) {
            highest = position;
        }
    }
    int min = 0;
    int max = 100;
    int step = 1;
    int position = 0;
    int steps = 0;    // number of StepIt calls
    int highest = 0;  // highest position reached by stepping
};

}  // namespace quorvane
