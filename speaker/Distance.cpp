#include "speaker/Distance.h"

#include <algorithm>

namespace quorvane {

namespace {

bool CpuHasAvx() {
#if defined(QUORVANE_X86_VECTORS)
    __builtin_cpu_init();  // needed when called before main (static initialisers)
    return __builtin_cpu_supports("avx");
#else
    return false;
#endif
}

}  // namespace

std::vector<DistanceUnit> AvailableDistanceUnits() {
    std::vector<DistanceUnit> units = {DistanceUnit::Plain};
#if defined(QUORVANE_X86_VECTORS)
    units.push_back(DistanceUnit::Sse);
    if (CpuHasAvx()) {
        units.push_back(DistanceUnit::Avx);
    }
#endif
    return units;
}

DistanceKernel DistanceKernelFor(DistanceUnit unit) {
    const std::vector<DistanceUnit> units = AvailableDistanceUnits();
    if (std::find(units.begin(), units.end(), unit) == units.end()) {
        return DistancesPlain;
    }
    switch (unit) {
#if defined(QUORVANE_X86_VECTORS)
        case DistanceUnit::Sse:
            return DistancesSse;
        case DistanceUnit::Avx:
            return DistancesAvx;
#endif
        default:
            return DistancesPlain;
    }
}

DistanceKernel BestDistanceKernel() {
    static const DistanceKernel best = DistanceKernelFor(AvailableDistanceUnits().back());
    return best;
}

}  // namespace quorvane
