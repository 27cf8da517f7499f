// The per-name lock: one holder at a time across threads and processes, nested holds of one
// thread, a crashed holder that blocks nobody, and no lock file left once the name is free, with
// the file system's locks and with the claim file used where it has none.

#include "files/NameLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "files/PlatformFile.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ScratchFolder;

constexpr LockMethod kMethods[] = {LockMethod::Automatic, LockMethod::ClaimFile};

const char* MethodName(LockMethod method) {
    return method == LockMethod::Automatic ? "automatic" : "claim file";
}

// Whether another thread can take the name within `wait`.
bool OtherThreadTakes(const fs::path& folder, const std::string& name, LockMethod method,
                      std::chrono::milliseconds wait = 60ms) {
    bool taken = false;
    std::thread([&] { taken = NameLock::Acquire(folder, name, wait, method).has_value(); }).join();
    return taken;
}

TEST(NameLock, OneHolderAtATimeAndNothingLeftOnceFree) {
    for (const LockMethod method : kMethods) {
        SCOPED_TRACE(MethodName(method));
        const ScratchFolder folder;
        {
            Result<NameLock> anna = NameLock::Acquire(folder.Path(), "anna", 0ms, method);
            ASSERT_TRUE(anna.has_value()) << anna.error().Reason();
            EXPECT_EQ(anna->Path(), folder.Path() / ".anna.lock");
            EXPECT_TRUE(fs::is_regular_file(anna->Path()));
            EXPECT_FALSE(OtherThreadTakes(folder.Path(), "anna", method));
            EXPECT_TRUE(OtherThreadTakes(folder.Path(), "bob", method));
            {
                // The same thread takes its own name again: a store step inside a command.
                const Result<NameLock> nested =
                    NameLock::Acquire(folder.Path(), "anna", 0ms, method);
                EXPECT_TRUE(nested.has_value());
            }
            EXPECT_FALSE(OtherThreadTakes(folder.Path(), "anna", method));

            std::thread([&] {
                const Result<NameLock> busy =
                    NameLock::Acquire(folder.Path(), "anna", 30ms, method);
                ASSERT_FALSE(busy.has_value());
                EXPECT_EQ(busy.error().code(), MakeError(NameLockError::Busy));
                EXPECT_EQ(busy.error().path(), folder.Path() / ".anna.lock");
            }).join();
        }
        EXPECT_TRUE(OtherThreadTakes(folder.Path(), "anna", method));
        EXPECT_TRUE(fs::is_empty(folder.Path()));
    }
}

TEST(NameLock, AWaitingCommandGetsTheNameWhenItsHolderLetsGo) {
    for (const LockMethod method : kMethods) {
        SCOPED_TRACE(MethodName(method));
        const ScratchFolder folder;
        std::optional<Result<NameLock>> first;
        first.emplace(NameLock::Acquire(folder.Path(), "anna", 0ms, method));
        ASSERT_TRUE(first->has_value());
        std::thread waiter([&] {
            EXPECT_TRUE(NameLock::Acquire(folder.Path(), "anna", 5000ms, method).has_value());
        });
        std::this_thread::sleep_for(100ms);
        first.reset();
        waiter.join();
    }
}

#ifndef _WIN32

// Runs `body` in a child process; its exit status.
template <typename Body>
int InChild(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Two processes add one to a counter file many times, each read and write under the lock: no
// increment may be lost.
TEST(NameLock, ProcessesTakeTurns) {
    constexpr int kRounds = 25;
    for (const LockMethod method : kMethods) {
        SCOPED_TRACE(MethodName(method));
        const ScratchFolder folder;
        const fs::path counter = folder.Path() / "counter";
        std::ofstream(counter) << 0;
        const auto work = [&] {
            for (int i = 0; i < kRounds; ++i) {
                const Result<NameLock> lock =
                    NameLock::Acquire(folder.Path(), "anna", 5000ms, method);
                if (!lock) {
                    return 1;
                }
                int value = 0;
                std::ifstream(counter) >> value;
                std::this_thread::sleep_for(1ms);
                std::ofstream(counter, std::ios::trunc) << value + 1;
            }
            return 0;
        };
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(work());
        }
        EXPECT_EQ(work(), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        int value = 0;
        std::ifstream(counter) >> value;
        EXPECT_EQ(value, 2 * kRounds);
    }
}

// A holder that dies without letting go (a kill, a crash) blocks nobody: the next command takes
// the name at once, and lets it go cleanly.
TEST(NameLock, ACrashedHolderBlocksNobody) {
    for (const LockMethod method : kMethods) {
        SCOPED_TRACE(MethodName(method));
        const ScratchFolder folder;
        const int status = InChild([&] {
            const Result<NameLock> lock = NameLock::Acquire(folder.Path(), "anna", 0ms, method);
            // Ends without the destructors: the lock file stays as a crash leaves it.
            ::_exit(lock.has_value() && fs::exists(folder.Path() / ".anna.lock") ? 0 : 1);
            return 1;
        });
        ASSERT_EQ(status, 0);
        ASSERT_TRUE(fs::exists(folder.Path() / ".anna.lock"));
        {
            const Result<NameLock> next = NameLock::Acquire(folder.Path(), "anna", 200ms, method);
            EXPECT_TRUE(next.has_value());
        }
        EXPECT_TRUE(fs::is_empty(folder.Path()));
    }
}

// A claim file (file systems without locks) blocks while its process may be running, and is
// taken over once it is stale.
TEST(NameLock, AClaimBlocksUntilItsProcessIsGone) {
    // A process id that exists no more: a child that ended.
    const pid_t ended = ::fork();
    if (ended == 0) {
        ::_exit(0);
    }
    ::waitpid(ended, nullptr, 0);
    const auto old = fs::file_time_type::clock::now() - 1min;
    const struct {
        const char* what;
        std::string content;
        bool aged;  // written a minute ago
        bool taken;
    } cases[] = {
        {"a running process", std::to_string(::getpid()) + "\n", false, false},
        {"an ended process", std::to_string(ended) + "\n", false, true},
        {"an earlier boot", std::to_string(::getpid()) + " another-boot 1\n", false, true},
        {"no content yet", "", false, false},
        {"no content for a minute", "", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ScratchFolder folder;
        const fs::path claim = folder.Path() / ".anna.lock";
        std::ofstream(claim) << c.content;
        if (c.aged) {
            fs::last_write_time(claim, old);
        }
        // Another thread: this thread's own holds would count as nested.
        EXPECT_EQ(OtherThreadTakes(folder.Path(), "anna", LockMethod::ClaimFile), c.taken);
        EXPECT_EQ(fs::exists(claim), !c.taken);
    }
}

#endif

}  // namespace
}  // namespace quorvane
