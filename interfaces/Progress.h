#pragma once

namespace quorvane {

// A progress bar as the long operations drive it (training, file batches).
// The program maps it onto Pr1; tests record the calls.
class Progress {
public:
    virtual ~Progress() = default;
    virtual void SetRange(int minimum, int maximum) = 0;
    virtual void SetStep(int step) = 0;
    virtual void SetPosition(int position) = 0;
    virtual void StepIt() = 0;
};

// Ignores everything; for callers without a progress display.
class NullProgress final : public Progress {
public:
    void SetRange(int, int) override {}
    void SetStep(int) override {}
    void SetPosition(int) override {}
    void StepIt() override {}
};

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
