#pragma once

namespace quorvane {

// A progress bar as the long operations drive it (training, file batches).
// The program maps it onto Pr1; tests count the calls (tests/support/CountingProgress.h).
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

}  // namespace quorvane
