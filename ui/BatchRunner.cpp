#include "ui/BatchRunner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>
#include <type_traits>
#include <utility>

#include "files/PathText.h"
#include "ui/QtText.h"
#include "workflow/Messages.h"

namespace fs = std::filesystem;

namespace {

// How often a quitting application looks whether the stopped batch has ended.
constexpr unsigned long kQuitPollMs = 20;

// A regular file's size; 0 for anything else (the batch refuses it anyway).
std::uint64_t SizeOf(const fs::path& file) {
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        return 0;
    }
    const std::uintmax_t size = fs::file_size(file, error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

}  // namespace

// The front end the batch sees, called on the worker thread. What it shows or asks goes to
// the window's front end on the runner's thread, the worker waiting for the answer; the bar
// and the byte progress are the runner's own.
class BatchRunner::Front final : public quorvane::BatchFrontEnd {
public:
    Front(BatchRunner& runner, const std::vector<fs::path>& inputs)
        : runner_(runner), inputs_(inputs), files_(*this) {
        offsets_.reserve(inputs.size() + 1);
        offsets_.push_back(0);
        for (const fs::path& input : inputs) {
            offsets_.push_back(offsets_.back() + SizeOf(input));
        }
    }

    void Notice(const std::string& text) override { OnWindowFront(&BatchFrontEnd::Notice, text); }
    void FileProblem(std::string_view message, std::string_view reason) override {
        OnWindowFront(&BatchFrontEnd::FileProblem, message, reason);
    }
    ReplaceAnswer AskReplace(const fs::path& output) override {
        return OnWindowFront(&BatchFrontEnd::AskReplace, output);
    }
    bool AllowUnverified(const fs::path& file) override {
        return OnWindowFront(&BatchFrontEnd::AllowUnverified, file);
    }
    quorvane::Progress& Bar() override { return files_; }
    quorvane::ProgressFn FileProgress(const fs::path& file) override;
    bool CancelRequested() override {
        runner_.WaitWhilePaused();
        return runner_.cancel_.load();
    }

private:
    // The workflow's bar counts files: each step is one more file dealt with, and the
    // position goes back to 0 at the end.
    class FilesBar final : public quorvane::Progress {
    public:
        explicit FilesBar(Front& front) : front_(front) {}
        void SetRange(int, int) override {}
        void SetStep(int) override {}
        void SetPosition(int position) override {
            front_.FilesDone(static_cast<std::size_t>(std::max(position, 0)));
        }
        void StepIt() override { front_.FilesDone(front_.filesDone_ + 1); }

    private:
        Front& front_;
    };

    // Runs `call` on the runner's thread and waits for it; an exception it throws is
    // thrown again here.
    template <typename Call>
    void OnWindow(Call&& call) {
        if (QThread::currentThread() == runner_.thread()) {
            call();
            return;
        }
        std::exception_ptr error;
        QMetaObject::invokeMethod(
            &runner_,
            [&] {
                // The window's thread is a boundary: whatever the call throws is carried back
                // to the batch's thread as it is, and rethrown there.
                try {
                    call();
                } catch (...) {
                    error = std::current_exception();
                }
            },
            Qt::BlockingQueuedConnection);
        if (error) {
            std::rethrow_exception(error);
        }
    }

    // Calls `call` of the window's front end on the runner's thread and returns its answer:
    // the one way a call of the batch reaches the window.
    template <typename Answer, typename... Parameters, typename... Arguments>
    Answer OnWindowFront(Answer (BatchFrontEnd::*call)(Parameters...), Arguments&&... arguments) {
        // Nothing is shown over the window's close question.
        runner_.WaitWhilePaused();
        if constexpr (std::is_void_v<Answer>) {
            OnWindow([&] { (runner_.front_.*call)(std::forward<Arguments>(arguments)...); });
        } else {
            std::optional<Answer> answer;
            OnWindow(
                [&] { answer = (runner_.front_.*call)(std::forward<Arguments>(arguments)...); });
            return *answer;
        }
    }

    void FilesDone(std::size_t count) {
        filesDone_ = std::min(count, inputs_.size());
        Show(offsets_[filesDone_], {});
    }

    // Pr1's position for `bytes` of the batch done; by files for a batch without bytes.
    [[nodiscard]] int Position(std::uint64_t bytes) const {
        const std::uint64_t total = offsets_.back();
        if (total == 0) {
            return inputs_.empty() ? 0
                                   : static_cast<int>(filesDone_ * kProgressScale / inputs_.size());
        }
        return static_cast<int>(std::min(bytes, total) * kProgressScale / total);
    }

    // Shows `bytes` of the batch on Pr1 and, when not empty, `status`; waits for the window
    // so that a Cancel pressed on seeing it stops the very next chunk.
    void Show(std::uint64_t bytes, const QString& status) {
        const int position = Position(bytes);
        if (position == shownPosition_ && (status.isEmpty() || status == shownStatus_)) {
            return;
        }
        shownPosition_ = position;
        if (!status.isEmpty()) {
            shownStatus_ = status;
        }
        OnWindow([&] {
            runner_.bar_.SetPosition(position);
            if (!status.isEmpty()) {
                runner_.status_(status);
            }
        });
    }

    BatchRunner& runner_;
    std::vector<fs::path> inputs_;
    std::vector<std::uint64_t> offsets_;  // bytes of the files before each one, then all
    FilesBar files_;
    std::size_t filesDone_ = 0;
    int shownPosition_ = -1;
    QString shownStatus_;
};

quorvane::ProgressFn BatchRunner::Front::FileProgress(const fs::path& file) {
    // The file in work is the one after those dealt with; look it up when the batch
    // skipped ahead without stepping.
    std::size_t index = filesDone_;
    if (index >= inputs_.size() || inputs_[index] != file) {
        const auto found = std::find(inputs_.begin(), inputs_.end(), file);
        if (found == inputs_.end()) {
            return {};
        }
        index = static_cast<std::size_t>(found - inputs_.begin());
    }
    const QString name = ui::FromUtf8(
        quorvane::BatchFileText(index + 1, inputs_.size(), quorvane::PathText(file.filename())));
    const std::uint64_t before = offsets_[index];
    const std::uint64_t size = offsets_[index + 1] - before;
    Show(before, name);
    const auto start = std::chrono::steady_clock::now();
    return [this, name, before, size, start](std::uint64_t done, std::uint64_t total) {
        // The coded bytes (blocks, without header and check value) stand for the file's.
        const double part =
            total == 0 ? 1.0
                       : static_cast<double>(std::min(done, total)) / static_cast<double>(total);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        QString status = name;
        if (elapsed.count() >= kSpeedAfterSeconds) {
            status +=
                ui::FromUtf8(quorvane::SpeedText(static_cast<double>(done) / elapsed.count()));
        }
        Show(before + static_cast<std::uint64_t>(part * static_cast<double>(size)), status);
    };
}

BatchRunner::BatchRunner(quorvane::BatchFrontEnd& front, quorvane::Progress& bar,
                         std::function<void(const QString&)> status, QObject* parent)
    : QObject(parent), front_(front), bar_(bar), status_(std::move(status)) {}

BatchRunner::~BatchRunner() = default;

bool BatchRunner::Run(const std::vector<fs::path>& inputs, const Work& work) {
    if (running_) {
        return false;
    }
    running_ = true;
    cancel_ = false;
    Front front(*this, inputs);
    bar_.SetRange(0, kProgressScale);
    bar_.SetPosition(0);
    emit started();

    std::exception_ptr error;
    QEventLoop loop;
    const std::unique_ptr<QThread> worker(QThread::create([&] {
        // The worker thread is a boundary: whatever the batch throws is carried back to the
        // window's thread as it is, and rethrown there once the thread has ended.
        try {
            work(front);
        } catch (...) {
            error = std::current_exception();
        }
    }));
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    // The window paints and answers meanwhile; the worker's calls arrive as events.
    loop.exec();
    if (!worker->isFinished()) {
        // The application is quitting, which ends every event loop: stop the batch and
        // answer its remaining calls until it has cleaned up.
        cancel_ = true;
        pauseChanged_.notify_all();
        while (!worker->wait(kQuitPollMs)) {
            QCoreApplication::processEvents();
        }
    }
    worker->wait();

    running_ = false;
    Resume();
    emit finished();
    if (error) {
        std::rethrow_exception(error);
    }
    return true;
}

void BatchRunner::Cancel() {
    if (running_) {
        cancel_ = true;
        pauseChanged_.notify_all();
    }
}

void BatchRunner::Pause() {
    const std::lock_guard lock(pauseMutex_);
    paused_ = running_;
}

void BatchRunner::Resume() {
    {
        const std::lock_guard lock(pauseMutex_);
        paused_ = false;
    }
    pauseChanged_.notify_all();
}

void BatchRunner::WaitWhilePaused() {
    std::unique_lock lock(pauseMutex_);
    pauseChanged_.wait(lock, [this] { return !paused_ || cancel_.load(); });
}
