// The programs' first step: no core file of the process, and on Linux no dumping at all.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "files/ProcessSafety.h"

namespace quorvane {
namespace {

TEST(ProcessSafety, CoreDumpsAreSwitchedOff) {
    EXPECT_TRUE(DisableCoreDumps());
#ifndef _WIN32
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &limit), 0);
    EXPECT_EQ(limit.rlim_cur, rlim_t{0});
    EXPECT_EQ(limit.rlim_max, rlim_t{0});
#endif
#ifdef __linux__
    EXPECT_EQ(prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
#endif
}

}  // namespace
}  // namespace quorvane
