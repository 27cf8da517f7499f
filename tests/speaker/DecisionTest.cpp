#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Decision.h"
#include "speaker/Training.h"
#include "tests/speaker/SpokenPhrase.h"

namespace quorvane {
namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct Entry {
    std::vector<float> values;
    std::int32_t members = 1;
};

// A trained codebook with the given codewords; the dimension is that of the
// first codeword.
VoiceCodebook Book(const std::vector<Entry>& entries) {
    VoiceCodebook book;
    book.cepstrumOrder = static_cast<std::int32_t>(entries.at(0).values.size());
    book.codewords.emplace();
    for (std::size_t k = 0; k < entries.size(); ++k) {
        Codeword c;
        c.values = entries[k].values;
        c.memberCount = entries[k].members;
        c.label = static_cast<std::int32_t>(k);
        book.codewords->push_back(c);
    }
    book.codewordCount = static_cast<std::int32_t>(entries.size());
    book.maxCodewords = book.codewordCount;
    return book;
}

// One codeword at x on a line.
VoiceCodebook Point(float x) {
    return Book({{{x}}});
}

// ---- CodebookDistance

TEST(CodebookDistance, IdenticalCodebooksAreAtZero) {
    const VoiceCodebook a = Book({{{1, 2, 3}}, {{-4, 0.5f, 2}}, {{9, 9, 9}, 0}});
    EXPECT_EQ(CodebookDistance(a, a), 0.0f);
}

TEST(CodebookDistance, MeanOfTheTwoDirectedNearestDistances) {
    // a: (0,0) and (4,0). b: (1,0). From a: 1 and 3, mean 2. From b: 1. Result 1.5.
    const VoiceCodebook a = Book({{{0, 0}}, {{4, 0}}});
    const VoiceCodebook b = Book({{{1, 0}}});
    EXPECT_EQ(CodebookDistance(a, b), 1.5f);
    EXPECT_EQ(CodebookDistance(b, a), 1.5f);
}

TEST(CodebookDistance, EmptyCodewordsTakeNoPartOnEitherSide) {
    // The same as above with empty codewords that would be nearer: b's empty
    // (0,0) first (it must not serve as the starting minimum), and a's empty
    // (1,0), which would sit on b's only filled codeword.
    const VoiceCodebook a = Book({{{0, 0}}, {{1, 0}, 0}, {{4, 0}}});
    const VoiceCodebook b = Book({{{0, 0}, 0}, {{1, 0}}, {{4.5f, 0}, 0}});
    EXPECT_EQ(CodebookDistance(a, b), 1.5f);
    EXPECT_EQ(CodebookDistance(b, a), 1.5f);
}

TEST(CodebookDistance, CodewordsBeyondTheCountTakeNoPart) {
    VoiceCodebook a = Book({{{0, 0}}, {{1, 0}}});
    a.codewordCount = 1;
    const VoiceCodebook b = Book({{{1, 0}}});
    EXPECT_EQ(CodebookDistance(a, b), 1.0f);
}

TEST(CodebookDistance, FirstRecordSetsTheDimension) {
    // Only the first component counts when a has dimension 1.
    VoiceCodebook a = Book({{{0, 100}}});
    a.cepstrumOrder = 1;
    const VoiceCodebook b = Book({{{3, -100}}});
    EXPECT_EQ(CodebookDistance(a, b), 3.0f);
    EXPECT_EQ(CodebookDistance(b, a), std::sqrt(9.0f + 40000.0f));
}

TEST(CodebookDistance, NoFilledCodewordIsInfinitelyFar) {
    const VoiceCodebook filled = Book({{{1, 1}}});
    const VoiceCodebook empty = Book({{{1, 1}, 0}, {{2, 2}, 0}});
    VoiceCodebook untrained;
    untrained.cepstrumOrder = 2;
    EXPECT_EQ(CodebookDistance(filled, empty), kInfinity);
    EXPECT_EQ(CodebookDistance(empty, filled), kInfinity);
    EXPECT_EQ(CodebookDistance(empty, empty), kInfinity);
    EXPECT_EQ(CodebookDistance(filled, untrained), kInfinity);
    EXPECT_EQ(CodebookDistance(untrained, filled), kInfinity);
}

TEST(CodebookDistance, CodewordsShorterThanTheDimensionCannotBeCompared) {
    const VoiceCodebook a = Book({{{0, 0, 0}}});
    const VoiceCodebook shorter = Book({{{1}}});
    EXPECT_EQ(CodebookDistance(a, shorter), kInfinity);
}

// ---- ComputeThreshold

// Phrases on a line at p0, p1, p2, one codeword each.
std::array<VoiceCodebook, 3> Phrases(float p0, float p1, float p2) {
    return {Point(p0), Point(p1), Point(p2)};
}

TEST(ComputeThreshold, SecurityLevelPicksFromTheSortedDistances) {
    // d01 = 0.75, d02 = 0.5, d12 = 1.25: the middle, the smallest and the largest
    // in that order, like 0.7, 0.5, 0.9.
    const std::array<VoiceCodebook, 3> books = Phrases(0.0f, 0.75f, -0.5f);
    EXPECT_EQ(ComputeThreshold(books, kSecurityHigh), 0.5f);
    EXPECT_EQ(ComputeThreshold(books, kSecurityMedium), 0.75f);
    EXPECT_EQ(ComputeThreshold(books, kSecurityLow), 1.25f);
}

TEST(ComputeThreshold, EveryOrderOfThePairwiseDistancesSorts) {
    // d01 = 2, d02 = 0.5, d12 = 1.5 (descending, ascending in other layouts).
    const std::array<VoiceCodebook, 3> descending = Phrases(0.0f, 2.0f, 0.5f);
    EXPECT_EQ(ComputeThreshold(descending, kSecurityHigh), 0.5f);
    EXPECT_EQ(ComputeThreshold(descending, kSecurityMedium), 1.5f);
    EXPECT_EQ(ComputeThreshold(descending, kSecurityLow), 2.0f);
    // d01 = 0.25, d02 = 1, d12 = 1.25 (already ascending).
    const std::array<VoiceCodebook, 3> ascending = Phrases(0.0f, -0.25f, 1.0f);
    EXPECT_EQ(ComputeThreshold(ascending, kSecurityHigh), 0.25f);
    EXPECT_EQ(ComputeThreshold(ascending, kSecurityMedium), 1.0f);
    EXPECT_EQ(ComputeThreshold(ascending, kSecurityLow), 1.25f);
    // d01 = 3, d02 = 1, d12 = 2 (largest first).
    const std::array<VoiceCodebook, 3> largestFirst = Phrases(0.0f, 3.0f, 1.0f);
    EXPECT_EQ(ComputeThreshold(largestFirst, kSecurityHigh), 1.0f);
    EXPECT_EQ(ComputeThreshold(largestFirst, kSecurityMedium), 2.0f);
    EXPECT_EQ(ComputeThreshold(largestFirst, kSecurityLow), 3.0f);
}

TEST(ComputeThreshold, ZeroDistanceAtHighGivesZero) {
    const std::array<VoiceCodebook, 3> books = Phrases(1.0f, 1.0f, 2.0f);
    EXPECT_EQ(ComputeThreshold(books, kSecurityHigh), 0.0f);
    EXPECT_EQ(ComputeThreshold(books, kSecurityLow), 1.0f);
}

TEST(ComputeThreshold, NoThresholdFromAnUncomparablePhraseOrAnUnknownLevel) {
    std::array<VoiceCodebook, 3> books = Phrases(0.0f, 1.0f, 2.0f);
    (*books[2].codewords)[0].memberCount = 0;
    // d01 = 1, d02 = d12 = infinity: the largest would accept every voice.
    EXPECT_EQ(ComputeThreshold(books, kSecurityLow), kUntrainedThreshold);
    EXPECT_EQ(ComputeThreshold(books, kSecurityHigh), 1.0f);
    const std::array<VoiceCodebook, 3> good = Phrases(0.0f, 1.0f, 2.0f);
    EXPECT_EQ(ComputeThreshold(good, 3), kUntrainedThreshold);
    EXPECT_EQ(ComputeThreshold(good, -1), kUntrainedThreshold);
}

// ---- VerifySpeaker

TEST(VerifySpeaker, SmallestDistanceDecidesStrictlyBelowTheThreshold) {
    const std::array<VoiceCodebook, 3> models = Phrases(0.0f, 5.0f, 10.0f);
    const VoiceCodebook test = Point(5.75f);  // distances 5.75, 0.75, 4.25
    float distance = -1.0f;
    EXPECT_TRUE(VerifySpeaker(models, test, 1.0f, distance));
    EXPECT_EQ(distance, 0.75f);
    EXPECT_FALSE(VerifySpeaker(models, test, 0.75f, distance));  // equal: rejected
    EXPECT_EQ(distance, 0.75f);
    EXPECT_TRUE(VerifySpeaker(models, test, std::nextafter(0.75f, 1.0f), distance));
    EXPECT_FALSE(VerifySpeaker(models, test, 0.5f, distance));
}

TEST(VerifySpeaker, OneWellMatchingPhraseIsEnough) {
    for (int which = 0; which < 3; ++which) {
        std::array<VoiceCodebook, 3> models = Phrases(100.0f, 200.0f, 300.0f);
        models[static_cast<std::size_t>(which)] = Point(1.0f);
        float distance = 0.0f;
        EXPECT_TRUE(VerifySpeaker(models, Point(1.25f), 0.5f, distance)) << which;
        EXPECT_EQ(distance, 0.25f);
    }
}

TEST(VerifySpeaker, UncomparableCodebooksReject) {
    const std::array<VoiceCodebook, 3> models = Phrases(0.0f, 1.0f, 2.0f);
    VoiceCodebook empty = Point(0.0f);
    (*empty.codewords)[0].memberCount = 0;
    float distance = 0.0f;
    EXPECT_FALSE(VerifySpeaker(models, empty, 1000.0f, distance));
    EXPECT_EQ(distance, kInfinity);
    // An infinite threshold (a damaged model) accepts nobody.
    EXPECT_FALSE(VerifySpeaker(models, Point(0.0f), kInfinity, distance));
    EXPECT_EQ(distance, 0.0f);
    // One empty model among good ones: the others still decide.
    std::array<VoiceCodebook, 3> partly = Phrases(0.0f, 1.0f, 2.0f);
    (*partly[0].codewords)[0].memberCount = 0;
    EXPECT_TRUE(VerifySpeaker(partly, Point(1.0f), 0.5f, distance));
    EXPECT_EQ(distance, 0.0f);
}

// ---- Real voices, end to end

class RealVoices : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::EspeakAvailable()) {
            GTEST_SKIP() << "espeak-ng is not installed: no spoken phrases to compare";
        }
    }

    static VoiceCodebook Trained(const std::string& voice, const std::string& text) {
        std::vector<std::int16_t> samples;
        EXPECT_TRUE(testing::SpeakPhrase(voice, text, samples)) << voice << ": " << text;
        VoiceCodebook book;
        NullProgress progress;
        SilentNotifier notifier;
        EXPECT_TRUE(TrainCodebook(book, samples, static_cast<std::int32_t>(samples.size()),
                                  kSampleRate, kMaxCodewords, progress, notifier))
            << voice << ": " << text;
        return book;
    }
};

TEST_F(RealVoices, APhraseVerifiesAgainstItselfAtDistanceZero) {
    const std::string text = "My voice is my password, please let me in";
    const std::array<VoiceCodebook, 3> models = {
        Trained("en", text),
        Trained("en", "Open the door to the garden and walk along the river to the old bridge"),
        Trained("en", "Numbers one two three four five six seven eight nine and ten")};
    const VoiceCodebook again = Trained("en", text);
    float distance = -1.0f;
    EXPECT_TRUE(VerifySpeaker(models, again, 0.001f, distance));
    EXPECT_EQ(distance, 0.0f);
}

TEST_F(RealVoices, DifferentVoicesAreFurtherApartThanTwoPhrasesOfOneVoice) {
    // Two voices, a male and a female one, each saying two different phrases.
    const std::string first = "The rainbow is a division of white light";
    const std::string second = "When the sunlight strikes raindrops in the air";
    const std::array<VoiceCodebook, 2> male = {Trained("en", first), Trained("en", second)};
    const std::array<VoiceCodebook, 2> female = {Trained("en+f3", first), Trained("en+f3", second)};
    const float sameMale = CodebookDistance(male[0], male[1]);
    const float sameFemale = CodebookDistance(female[0], female[1]);
    EXPECT_GT(sameMale, 0.0f);
    EXPECT_GT(sameFemale, 0.0f);
    for (const VoiceCodebook& m : male) {
        for (const VoiceCodebook& f : female) {
            const float across = CodebookDistance(m, f);
            EXPECT_GT(across, sameMale);
            EXPECT_GT(across, sameFemale);
            EXPECT_EQ(across, CodebookDistance(f, m));
        }
    }
    // Enrolled with the male phrases (threshold: the largest pairwise distance),
    // a male phrase passes and the female voice saying the same words does not.
    const std::array<VoiceCodebook, 3> models = {
        male[0], male[1],
        Trained("en", "Seven slender swans swam swiftly across the silver lake at dawn")};
    const float threshold = ComputeThreshold(models, kSecurityLow);
    float distance = 0.0f;
    EXPECT_TRUE(VerifySpeaker(models, male[0], threshold, distance));
    EXPECT_FALSE(VerifySpeaker(models, female[0], threshold, distance))
        << distance << " vs " << threshold;
}

}  // namespace
}  // namespace quorvane
