#include "speaker/Distance.h"

#include <cmath>
#include <cstddef>

namespace quorvane {

void DistancesPlain(const float* const* rows, std::int32_t rowCount, std::int32_t dimension,
                    const float* block, std::int32_t stride, DistanceBlock& out) {
    for (std::int32_t r = 0; r < rowCount; ++r) {
        float acc[kLaneBlock] = {};
        for (std::int32_t j = 0; j < dimension; ++j) {
            const float* const column = block + static_cast<std::ptrdiff_t>(j) * stride;
            for (std::int32_t lane = 0; lane < kLaneBlock; ++lane) {
                const float difference = rows[r][j] - column[lane];
                acc[lane] += difference * difference;
            }
        }
        for (std::int32_t lane = 0; lane < kLaneBlock; ++lane) {
            out[r][lane] = std::sqrt(acc[lane]);
        }
    }
}

}  // namespace quorvane
