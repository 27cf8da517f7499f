#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace quorvane {

// Streams data through read -> transform -> write in chunks of bounded size. A reader thread
// reads in order, worker threads transform up to a few chunks at once, and the calling thread
// writes in order; the three overlap, so a write that waits for the device does not stop the
// reading or the transforming. Memory use is at most a fixed number of chunks (4 per worker + 2),
// whatever the total. With one worker (or one chunk) everything runs on the calling thread.
// The chunk buffers are wiped when the run ends, since they held plain data.
struct BlockPipeline {
    std::size_t chunkBytes = std::size_t{1} << 20;  // 1 MiB, a multiple of the 8-byte block
    int workers = 0;  // transforming threads; 0 = one per processor, 1 = all on the caller
    // Bytes of a small result each chunk carries from transform to write (a check value).
    std::size_t sideBytes = 0;

    // Fills the chunk completely (chunks come in order; on the reader thread, never at the same
    // time as another read). False stops the run.
    std::function<bool(std::span<std::uint8_t> chunk)> read;
    // Transforms chunk number `index` in place and may leave sideBytes bytes in `side`; may run
    // on any thread, several at once.
    std::function<void(std::uint64_t index, std::span<std::uint8_t> chunk,
                       std::span<std::uint8_t> side)>
        transform;
    // Takes the transformed chunk and its side bytes (in order, on the calling thread). False
    // stops the run.
    std::function<bool(std::span<const std::uint8_t> chunk, std::span<const std::uint8_t> side)>
        write;

    // Moves totalBytes through the three stages. True when every read and write succeeded. A
    // callback that throws stops the run: once every thread has ended, Run throws the first
    // such exception again on the calling thread.
    [[nodiscard]] bool Run(std::uint64_t totalBytes) const;
};

}  // namespace quorvane
