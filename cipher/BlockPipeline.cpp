#include "cipher/BlockPipeline.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
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

std::size_t ChunkSize(std::uint64_t total, std::size_t chunkBytes, std::uint64_t index) {
    const std::uint64_t left = total - index * chunkBytes;
    return left < chunkBytes ? static_cast<std::size_t>(left) : chunkBytes;
}

}  // namespace

bool BlockPipeline::Run(std::uint64_t totalBytes) const {
    const std::uint64_t chunkCount = (totalBytes + chunkBytes - 1) / chunkBytes;
    const int workerCount = WorkerCount(workers);

    if (workerCount <= 1 || chunkCount <= 1) {
        SecretBytes buffer(
            static_cast<std::size_t>(totalBytes < chunkBytes ? totalBytes : chunkBytes));
        std::vector<std::uint8_t> side(sideBytes);
        // A callback that throws ends the run like a failed read or write, as with threads.
        try {
            for (std::uint64_t i = 0; i < chunkCount; ++i) {
                const std::span<std::uint8_t> chunk(buffer.data(),
                                                    ChunkSize(totalBytes, chunkBytes, i));
                if (!read(chunk)) {
                    return false;
                }
                transform(i, chunk, side);
                if (!write(chunk, side)) {
                    return false;
                }
            }
        } catch (...) {
            return false;
        }
        return true;
    }

    // Reading, transforming and writing overlap: a reader thread fills free slots in file
    // order, the workers transform them, and the caller writes them in order. While the caller
    // waits for the device (or is not scheduled on a busy machine) the reader and the workers go
    // on until every slot is full; while the reader waits for the disk the writer goes on.
    enum class State { Free, Queued, Done };
    struct Slot {
        SecretBytes data;  // allocated when first used
        std::vector<std::uint8_t> side;
        std::uint64_t index = 0;
        std::size_t size = 0;
        State state = State::Free;
    };
    const std::size_t slotCount = 4 * static_cast<std::size_t>(workerCount) + 2;
    std::vector<Slot> slots(slotCount);
    for (auto& slot : slots) {
        slot.side.resize(sideBytes);
    }
    std::mutex mutex;
    std::condition_variable workReady;  // a slot was queued, or stopping
    std::condition_variable chunkDone;  // a slot was transformed, or the reader ended
    std::condition_variable slotFreed;  // a slot was written, or stopping
    std::deque<std::size_t> queue;
    bool stopping = false;
    bool readerEnded = false;
    std::uint64_t readCount = 0;  // chunks read and queued so far
    std::uint64_t written = 0;    // chunks written so far

    auto work = [&] {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex);
                workReady.wait(lock, [&] { return stopping || !queue.empty(); });
                if (queue.empty()) {
                    return;
                }
                index = queue.front();
                queue.pop_front();
            }
            Slot& slot = slots[index];
            transform(slot.index, std::span<std::uint8_t>(slot.data.data(), slot.size), slot.side);
            {
                const std::lock_guard lock(mutex);
                slot.state = State::Done;
            }
            chunkDone.notify_all();
        }
    };

    auto readAll = [&] {
        for (std::uint64_t next = 0; next < chunkCount; ++next) {
            {
                std::unique_lock lock(mutex);
                slotFreed.wait(lock, [&] { return stopping || next - written < slotCount; });
                if (stopping) {
                    break;
                }
            }
            Slot& slot = slots[next % slotCount];
            slot.size = ChunkSize(totalBytes, chunkBytes, next);
            slot.index = next;
            bool ok = false;
            try {
                slot.data.resize(chunkBytes);
                ok = read(std::span<std::uint8_t>(slot.data.data(), slot.size));
            } catch (...) {
                ok = false;
            }
            if (!ok) {
                break;
            }
            {
                const std::lock_guard lock(mutex);
                slot.state = State::Queued;
                queue.push_back(next % slotCount);
                readCount = next + 1;
            }
            workReady.notify_one();
        }
        {
            const std::lock_guard lock(mutex);
            readerEnded = true;
        }
        chunkDone.notify_all();
    };

    std::vector<std::thread> threads;
    try {
        for (int i = 0; i < workerCount; ++i) {
            threads.emplace_back(work);
        }
    } catch (...) {
        // No more threads to be had: the ones that started do the work.
    }
    std::optional<std::thread> reader;
    if (!threads.empty()) {
        try {
            reader.emplace(readAll);
        } catch (...) {
        }
    }
    if (!reader) {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        workReady.notify_all();
        for (auto& thread : threads) {
            thread.join();
        }
        BlockPipeline single = *this;
        single.workers = 1;
        return single.Run(totalBytes);
    }

    bool ok = true;
    // A callback that throws (a progress display, say) ends the run like a failed write; the
    // threads must still be stopped and joined below.
    try {
        for (std::uint64_t next = 0; next < chunkCount; ++next) {
            Slot& slot = slots[next % slotCount];
            {
                std::unique_lock lock(mutex);
                chunkDone.wait(lock, [&] {
                    return (next < readCount && slot.state == State::Done) ||
                           (readerEnded && next >= readCount);
                });
                if (next >= readCount) {
                    ok = false;  // the read of this chunk failed
                    break;
                }
            }
            if (!write(std::span<const std::uint8_t>(slot.data.data(), slot.size), slot.side)) {
                ok = false;
                break;
            }
            {
                const std::lock_guard lock(mutex);
                slot.state = State::Free;
                written = next + 1;
            }
            slotFreed.notify_one();
        }
    } catch (...) {
        ok = false;
    }

    {
        const std::lock_guard lock(mutex);
        stopping = true;
        queue.clear();
    }
    workReady.notify_all();
    slotFreed.notify_all();
    reader->join();
    for (auto& thread : threads) {
        thread.join();
    }
    return ok;
}

}  // namespace quorvane
