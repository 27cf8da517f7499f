#include "cipher/BlockPipeline.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "files/Secret.h"

namespace quorvane {

namespace {

constexpr int kMaxWorkers = 16;

int WorkerCount(int requested) {
    if (requested > 0) {
        return requested < kMaxWorkers ? requested : kMaxWorkers;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) {
        return 1;
    }
    return cores < kMaxWorkers ? static_cast<int>(cores) : kMaxWorkers;
}

std::uint64_t ChunkCount(std::uint64_t total, std::size_t chunkBytes) {
    return (total + chunkBytes - 1) / chunkBytes;
}

std::size_t ChunkSize(std::uint64_t total, std::size_t chunkBytes, std::uint64_t index) {
    const std::uint64_t left = total - index * chunkBytes;
    return left < chunkBytes ? static_cast<std::size_t>(left) : chunkBytes;
}

// Every stage on the calling thread, one chunk after the other.
bool RunOnCaller(const BlockPipeline& pipeline, std::uint64_t total) {
    SecretBytes buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(total, pipeline.chunkBytes)));
    std::vector<std::uint8_t> side(pipeline.sideBytes);
    for (std::uint64_t i = 0; i < ChunkCount(total, pipeline.chunkBytes); ++i) {
        const std::span<std::uint8_t> chunk(buffer.data(),
                                            ChunkSize(total, pipeline.chunkBytes, i));
        if (!pipeline.read(chunk)) {
            return false;
        }
        pipeline.transform(i, chunk, side);
        if (!pipeline.write(chunk, side)) {
            return false;
        }
    }
    return true;
}

// Reading, transforming and writing overlapped: a reader thread fills free slots in file order,
// the workers transform them, and the caller writes them in order. While the caller waits for
// the device (or is not scheduled on a busy machine) the reader and the workers go on until
// every slot is full; while the reader waits for the disk the writer goes on.
class OverlappedRun final {
public:
    OverlappedRun(const BlockPipeline& pipeline, std::uint64_t total, int workers)
        : pipeline_(pipeline),
          total_(total),
          chunkCount_(ChunkCount(total, pipeline.chunkBytes)),
          workers_(workers),
          slots_(4 * static_cast<std::size_t>(workers) + 2) {
        for (Slot& slot : slots_) {
            slot.side.resize(pipeline.sideBytes);
        }
    }
    ~OverlappedRun() { Stop(); }
    OverlappedRun(const OverlappedRun&) = delete;
    OverlappedRun& operator=(const OverlappedRun&) = delete;

    // Starts the workers and the reader; false (nothing read yet) when the system gives no
    // thread for the reader or for any worker.
    bool Start() {
        for (int i = 0; i < workers_; ++i) {
            try {
                threads_.emplace_back([this] { Guarded([this] { Work(); }); });
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the ones that started do the work
            }
        }
        if (!threads_.empty()) {
            try {
                threads_.emplace_back([this] { Guarded([this] { ReadAll(); }); });
                return true;
            } catch (const std::system_error&) {
            }
        }
        Stop();
        return false;
    }

    // Writes every chunk in file order on the calling thread. False when a read or a write
    // failed or a thread threw.
    bool WriteAll() {
        for (std::uint64_t next = 0; next < chunkCount_; ++next) {
            Slot& slot = slots_[next % slots_.size()];
            {
                std::unique_lock lock(mutex_);
                chunkDone_.wait(lock, [&] {
                    return thrown_ || (next < readCount_ && slot.state == State::Done) ||
                           (readerEnded_ && next >= readCount_);
                });
                if (thrown_ || next >= readCount_) {
                    return false;  // a thread threw, or the read of this chunk failed
                }
            }
            if (!pipeline_.write(std::span<const std::uint8_t>(slot.data.data(), slot.size),
                                 slot.side)) {
                return false;
            }
            {
                const std::lock_guard lock(mutex_);
                slot.state = State::Free;
                written_ = next + 1;
            }
            slotFreed_.notify_one();
        }
        return true;
    }

    // Stops and joins the threads, then throws again what one of them threw.
    void Finish() {
        Stop();
        if (thrown_) {
            std::rethrow_exception(thrown_);
        }
    }

private:
    enum class State { Free, Queued, Done };
    struct Slot {
        SecretBytes data;  // allocated when first used
        std::vector<std::uint8_t> side;
        std::uint64_t index = 0;
        std::size_t size = 0;
        State state = State::Free;
    };

    // Runs a thread's loop; what it throws stops the run and is kept for Finish.
    template <typename Loop>
    void Guarded(Loop loop) {
        try {
            loop();
        } catch (...) {
            {
                const std::lock_guard lock(mutex_);
                if (!thrown_) {
                    thrown_ = std::current_exception();
                }
                stopping_ = true;
            }
            workReady_.notify_all();
            slotFreed_.notify_all();
            chunkDone_.notify_all();
        }
    }

    void Work() {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                workReady_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (stopping_) {
                    return;
                }
                index = queue_.front();
                queue_.pop_front();
            }
            Slot& slot = slots_[index];
            pipeline_.transform(slot.index, std::span<std::uint8_t>(slot.data.data(), slot.size),
                                slot.side);
            {
                const std::lock_guard lock(mutex_);
                slot.state = State::Done;
            }
            chunkDone_.notify_all();
        }
    }

    void ReadAll() {
        for (std::uint64_t next = 0; next < chunkCount_ && ReadOne(next); ++next) {
        }
        {
            const std::lock_guard lock(mutex_);
            readerEnded_ = true;
        }
        chunkDone_.notify_all();
    }

    // Reads chunk `next` into its slot once the slot is free, and queues it. False when the
    // run stops or the read failed.
    bool ReadOne(std::uint64_t next) {
        {
            std::unique_lock lock(mutex_);
            slotFreed_.wait(lock, [&] { return stopping_ || next - written_ < slots_.size(); });
            if (stopping_) {
                return false;
            }
        }
        const std::size_t index = next % slots_.size();
        Slot& slot = slots_[index];
        slot.size = ChunkSize(total_, pipeline_.chunkBytes, next);
        slot.index = next;
        slot.data.resize(pipeline_.chunkBytes);
        if (!pipeline_.read(std::span<std::uint8_t>(slot.data.data(), slot.size))) {
            return false;
        }
        {
            const std::lock_guard lock(mutex_);
            slot.state = State::Queued;
            queue_.push_back(index);
            readCount_ = next + 1;
        }
        workReady_.notify_one();
        return true;
    }

    void Stop() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
            queue_.clear();
        }
        workReady_.notify_all();
        slotFreed_.notify_all();
        for (std::thread& thread : threads_) {
            thread.join();
        }
        threads_.clear();
    }

    const BlockPipeline& pipeline_;
    const std::uint64_t total_;
    const std::uint64_t chunkCount_;
    const int workers_;
    std::vector<Slot> slots_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable workReady_;  // a slot was queued, or stopping
    std::condition_variable chunkDone_;  // a slot was transformed, the reader ended, or a throw
    std::condition_variable slotFreed_;  // a slot was written, or stopping
    std::deque<std::size_t> queue_;
    std::exception_ptr thrown_;  // the first exception a thread threw
    bool stopping_ = false;
    bool readerEnded_ = false;
    std::uint64_t readCount_ = 0;  // chunks read and queued so far
    std::uint64_t written_ = 0;    // chunks written so far
};

}  // namespace

bool BlockPipeline::Run(std::uint64_t totalBytes) const {
    const int workerCount = WorkerCount(workers);
    if (workerCount <= 1 || ChunkCount(totalBytes, chunkBytes) <= 1) {
        return RunOnCaller(*this, totalBytes);
    }
    OverlappedRun run(*this, totalBytes, workerCount);
    if (!run.Start()) {
        return RunOnCaller(*this, totalBytes);
    }
    // Should the writer throw, the run's destructor stops and joins the threads.
    const bool written = run.WriteAll();
    run.Finish();
    return written;
}

}  // namespace quorvane
