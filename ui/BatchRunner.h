#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

#include "interfaces/Progress.h"
#include "workflow/FrontEnd.h"

// Runs a batch of files (encoding, decoding, testing a key) on a worker thread while the
// window goes on painting and answering: Run starts the worker and runs a local event
// loop until the batch has ended, so that its caller reads like the plain call it wraps.
//
// The batch talks to a front end of its own (quorvane::BatchFrontEnd, the calls a batch
// makes), which hands every call meant for the window's front end (notices, file problems,
// the replace question, the question about files without a check value) to the window's
// thread and waits there for the answer: the texts and the order of the boxes stay as they
// are. Pr1 shows the bytes of the whole batch, the status panel the
// file in work, its number and its speed. Cancel stops the batch after the current chunk;
// Pause holds it there while the window asks whether to close.
class BatchRunner final : public QObject {
    Q_OBJECT

public:
    // Pr1's range while a batch runs: per mille of the batch's bytes.
    static constexpr int kProgressScale = 1000;
    // The speed is shown once a file has been in work this long.
    static constexpr double kSpeedAfterSeconds = 0.25;

    // `front` answers the batch's questions, `bar` is Pr1 and `status` shows a status
    // text; all three are used on this object's thread only.
    BatchRunner(quorvane::BatchFrontEnd& front, quorvane::Progress& bar,
                std::function<void(const QString&)> status, QObject* parent = nullptr);
    ~BatchRunner() override;
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    using Work = std::function<void(quorvane::BatchFrontEnd& front)>;
    // Runs `work` on a worker thread with the batch's front end and returns once it has
    // ended; an exception that escapes `work` is thrown again here. `inputs` are the
    // batch's files in order: their sizes weigh Pr1. Emits started() before and
    // finished() after. Returns false, running nothing, while another batch runs.
    bool Run(const std::vector<std::filesystem::path>& inputs, const Work& work);

    [[nodiscard]] bool Running() const { return running_; }
    // Asks the running batch to stop after the current chunk; nothing when none runs.
    void Cancel();
    // Holds the running batch after its current chunk, and before anything it would show or
    // ask, until Resume or Cancel (the window's close question is open meanwhile).
    void Pause();
    void Resume();
    // Whether the running batch, or else the last one, was asked to stop.
    [[nodiscard]] bool Cancelled() const { return cancel_.load(); }

signals:
    void started();
    void finished();

private:
    class Front;

    quorvane::BatchFrontEnd& front_;
    quorvane::Progress& bar_;
    std::function<void(const QString&)> status_;
    // Waits while the batch is held by Pause (and not cancelled); on the worker thread.
    void WaitWhilePaused();

    bool running_ = false;
    std::atomic<bool> cancel_{false};
    std::mutex pauseMutex_;
    std::condition_variable pauseChanged_;
    bool paused_ = false;  // guarded by pauseMutex_
};
