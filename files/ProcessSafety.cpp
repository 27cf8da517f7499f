#include "files/ProcessSafety.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace quorvane {

bool DisableCoreDumps() {
#ifdef _WIN32
    // Windows writes no core files of its own; crash reports are the system's settings.
    return true;
#else
    const rlimit none{0, 0};
    bool done = setrlimit(RLIMIT_CORE, &none) == 0;
#ifdef __linux__
    done = prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0 && done;
#endif
    return done;
#endif
}

}  // namespace quorvane
