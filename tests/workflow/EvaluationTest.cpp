// The equal error rate of one global threshold, on trials whose answer is worked out by hand;
// the listing of a corpus and its refusals.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "tests/support/TestFiles.h"
#include "workflow/Evaluation.h"

namespace quorvane {
namespace {

struct EqualErrorCase {
    const char* what;
    std::vector<std::optional<float>> genuine;  // none: a refused recording
    std::vector<std::optional<float>> impostor;
    bool defined;
    double rate;
    double threshold;
};

std::vector<Trial> Trials(const EqualErrorCase& c) {
    std::vector<Trial> trials;
    for (const auto& d : c.genuine) {
        trials.push_back({.genuine = true, .distance = d});
    }
    for (const auto& d : c.impostor) {
        trials.push_back({.genuine = false, .distance = d});
    }
    return trials;
}

TEST(Evaluation, EqualErrorRateIsWhereFrrAndFarCross) {
    // Accepted below the threshold. {1,2} vs {2,3}: at 2 FRR 1/2, FAR 0; at 3 FRR 0, FAR 1/2;
    // the straight line between them crosses half way, at 1/4 and threshold 2.5.
    const std::vector<EqualErrorCase> cases = {
        {"apart", {1.0f, 2.0f}, {3.0f, 4.0f}, true, 0.0, 3.0},
        {"crossing between two thresholds", {1.0f, 2.0f}, {2.0f, 3.0f}, true, 0.25, 2.5},
        {"meeting at one threshold", {1.0f, 3.0f}, {2.0f, 4.0f}, true, 0.5, 3.0},
        {"a refused genuine recording is never accepted",
         {1.0f, std::nullopt},
         {2.0f},
         true,
         0.5,
         2.0},
        {"no impostor trial", {1.0f}, {}, false, 0.0, 0.0},
    };
    for (const EqualErrorCase& c : cases) {
        const EqualErrorRate eer = ComputeEqualErrorRate(Trials(c));
        EXPECT_EQ(eer.defined, c.defined) << c.what;
        EXPECT_NEAR(eer.rate, c.rate, 1e-9) << c.what;
        EXPECT_NEAR(eer.threshold, c.threshold, 1e-6) << c.what;
    }
}

// A corpus is a folder of speaker folders; anything else is refused with its path.
TEST(Evaluation, ACorpusIsListedFromAFolderOnly) {
    namespace fs = std::filesystem;
    const testing::ScratchFolder scratch;
    fs::create_directories(scratch.Path() / "corpus" / "anna");
    std::ofstream(scratch.Path() / "corpus" / "anna" / "enrol-1.wav") << "sound";
    std::ofstream(scratch.Path() / "plain.txt") << "text";
    const Result<std::vector<CorpusSpeaker>> listed = ListCorpus(scratch.Path() / "corpus");
    ASSERT_TRUE(listed.has_value());
    ASSERT_EQ(listed->size(), 1u);
    EXPECT_EQ(listed->front().name, "anna");
    EXPECT_EQ(listed->front().phrases[0], scratch.Path() / "corpus" / "anna" / "enrol-1.wav");
    for (const fs::path& refused : {scratch.Path() / "missing", scratch.Path() / "plain.txt"}) {
        const Result<std::vector<CorpusSpeaker>> none = ListCorpus(refused);
        ASSERT_FALSE(none.has_value()) << refused;
        EXPECT_EQ(none.error(), Failure(MakeError(CorpusError::NoSuchFolder), refused));
    }
}

}  // namespace
}  // namespace quorvane
