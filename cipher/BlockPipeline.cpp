#include "cipher/BlockPipeline.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

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
        std::vector<std::uint8_t> buffer(
            static_cast<std::size_t>(totalBytes < chunkBytes ? totalBytes : chunkBytes));
        std::vector<std::uint8_t> side(sideBytes);
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
        return true;
    }

    // Two chunks per worker keep every worker busy while the caller reads and writes.
    struct Slot {
        std::vector<std::uint8_t> data;
        std::vector<std::uint8_t> side;
        std::uint64_t index = 0;
        std::size_t size = 0;
        bool done = false;
    };
    const std::size_t slotCount = 2 * static_cast<std::size_t>(workerCount) + 1;
    std::vector<Slot> slots(slotCount);
    for (auto& slot : slots) {
        slot.data.resize(chunkBytes);
        slot.side.resize(sideBytes);
    }
    std::mutex mutex;
    std::condition_variable workReady;
    std::condition_variable chunkDone;
    std::deque<std::size_t> queue;
    bool stopping = false;

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
                slot.done = true;
            }
            chunkDone.notify_all();
        }
    };

    std::vector<std::thread> threads;
    try {
        for (int i = 0; i < workerCount; ++i) {
            threads.emplace_back(work);
        }
    } catch (...) {
        // No more threads to be had: the ones that started do the work.
        if (threads.empty()) {
            BlockPipeline single = *this;
            single.workers = 1;
            return single.Run(totalBytes);
        }
    }

    bool ok = true;
    std::uint64_t nextRead = 0;
    std::uint64_t nextWrite = 0;
    // A callback that throws (a progress display, say) ends the run like a failed write; the
    // workers must still be stopped and joined below.
    try {
        while (ok && nextWrite < chunkCount) {
            while (nextRead < chunkCount && nextRead - nextWrite < slotCount) {
                Slot& slot = slots[nextRead % slotCount];
                slot.size = ChunkSize(totalBytes, chunkBytes, nextRead);
                slot.index = nextRead;
                if (!read(std::span<std::uint8_t>(slot.data.data(), slot.size))) {
                    ok = false;
                    break;
                }
                {
                    const std::lock_guard lock(mutex);
                    slot.done = false;
                    queue.push_back(nextRead % slotCount);
                }
                workReady.notify_one();
                ++nextRead;
            }
            if (!ok) {
                break;
            }
            Slot& slot = slots[nextWrite % slotCount];
            {
                std::unique_lock lock(mutex);
                chunkDone.wait(lock, [&] { return slot.done; });
            }
            if (!write(std::span<const std::uint8_t>(slot.data.data(), slot.size), slot.side)) {
                ok = false;
                break;
            }
            ++nextWrite;
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
    for (auto& thread : threads) {
        thread.join();
    }
    return ok;
}

}  // namespace quorvane
