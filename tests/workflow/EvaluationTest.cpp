// The equal error rate of one global threshold, on trials whose answer is worked out by hand.

#include <gtest/gtest.h>

#include <optional>
#include <vector>

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

}  // namespace
}  // namespace quorvane
