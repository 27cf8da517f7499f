#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Training.h"
#include "tests/speaker/SpokenPhrase.h"
#include "tests/support/CountingProgress.h"

namespace quorvane {
namespace {

using Values = std::vector<float>;

// A record analysed into the given vectors, of their dimension.
VoiceCodebook WithVectors(const std::vector<Values>& vectors, std::int32_t maxCodewords = 64) {
    VoiceCodebook codebook;
    codebook.cepstrumOrder = vectors.empty() ? 2 : static_cast<std::int32_t>(vectors[0].size());
    codebook.maxCodewords = maxCodewords;
    codebook.vectorCount = static_cast<std::int32_t>(vectors.size());
    codebook.vectors.emplace();
    for (const Values& values : vectors) {
        Codeword entry;
        entry.values = values;
        codebook.vectors->push_back(entry);
    }
    return codebook;
}

// Gives the record codewords with the given values, all in use.
void SetCodewords(VoiceCodebook& codebook, const std::vector<Values>& codewords) {
    codebook.codewords.emplace();
    for (std::size_t k = 0; k < codewords.size(); ++k) {
        Codeword entry;
        entry.values = codewords[k];
        entry.label = static_cast<std::int32_t>(k);
        codebook.codewords->push_back(entry);
    }
    codebook.codewordCount = static_cast<std::int32_t>(codewords.size());
}

std::vector<Values> RandomVectors(std::uint32_t seed, std::int32_t count, std::int32_t dimension,
                                  bool coarse) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> steps(-4, 4);
    std::uniform_real_distribution<float> uniform(-2.0f, 2.0f);
    std::vector<Values> vectors(static_cast<std::size_t>(count));
    for (Values& values : vectors) {
        for (std::int32_t j = 0; j < dimension; ++j) {
            // Coarse values put many vectors exactly half-way between codewords.
            values.push_back(coarse ? 0.5f * static_cast<float>(steps(generator))
                                    : uniform(generator));
        }
    }
    return vectors;
}

bool SameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Compares two codeword arrays bit for bit over the first `count` entries.
void ExpectSameCodewords(const VoiceCodebook& a, const VoiceCodebook& b) {
    ASSERT_TRUE(a.codewords.has_value());
    ASSERT_TRUE(b.codewords.has_value());
    ASSERT_EQ(a.codewordCount, b.codewordCount);
    for (std::int32_t k = 0; k < a.codewordCount; ++k) {
        const Codeword& x = (*a.codewords)[static_cast<std::size_t>(k)];
        const Codeword& y = (*b.codewords)[static_cast<std::size_t>(k)];
        EXPECT_EQ(x.memberCount, y.memberCount) << "codeword " << k;
        EXPECT_EQ(x.label, y.label) << "codeword " << k;
        EXPECT_TRUE(SameBits(x.distortion, y.distortion)) << "codeword " << k;
        ASSERT_EQ(x.values.size(), y.values.size());
        for (std::size_t j = 0; j < x.values.size(); ++j) {
            ASSERT_TRUE(SameBits(x.values[j], y.values[j])) << "codeword " << k << " value " << j;
        }
    }
}

// ---- A plain second implementation of the growth, straight from its
// description: one FeatureDistance per vector/codeword pair, loops over the
// records' own entries, no copies, no threads. The trainer must match it bit
// for bit.

float PlainAssign(VoiceCodebook& book) {
    std::vector<Codeword>& cw = *book.codewords;
    std::vector<Codeword>& vs = *book.vectors;
    for (std::int32_t k = 0; k < book.codewordCount; ++k) {
        cw[k].distortion = 0.0f;
        cw[k].memberCount = 0;
    }
    float sum = 0.0f;
    for (std::int32_t i = 0; i < book.vectorCount; ++i) {
        std::int32_t best = 0;
        float bestDistance =
            FeatureDistance(book.cepstrumOrder, vs[i].values.data(), cw[0].values.data());
        for (std::int32_t k = 1; k < book.codewordCount; ++k) {
            const float d =
                FeatureDistance(book.cepstrumOrder, vs[i].values.data(), cw[k].values.data());
            if (d < bestDistance) {
                bestDistance = d;
                best = k;
            }
        }
        vs[i].label = best;
        cw[best].distortion += bestDistance;
        cw[best].memberCount += 1;
        sum += bestDistance;
    }
    for (std::int32_t k = 0; k < book.codewordCount; ++k) {
        if (cw[k].memberCount > 0) {
            cw[k].distortion /= static_cast<float>(cw[k].memberCount);
        }
    }
    return sum / static_cast<float>(book.vectorCount);
}

void PlainUpdate(VoiceCodebook& book) {
    std::vector<Codeword>& cw = *book.codewords;
    const std::vector<Codeword>& vs = *book.vectors;
    for (std::int32_t k = 0; k < book.codewordCount; ++k) {
        if (cw[k].memberCount <= 0) {
            continue;
        }
        for (std::int32_t j = 0; j < book.cepstrumOrder; ++j) {
            float sum = 0.0f;
            int n = 0;
            for (std::int32_t i = 0; i < book.vectorCount; ++i) {
                if (vs[i].label == cw[k].label) {
                    sum += vs[i].values[j];
                    ++n;
                }
            }
            cw[k].values[j] = sum / static_cast<float>(n);
        }
    }
}

void PlainGrow(VoiceCodebook& book) {
    book.codewords.emplace(static_cast<std::size_t>(book.maxCodewords));
    for (Codeword& c : *book.codewords) {
        c.values.assign(static_cast<std::size_t>(book.cepstrumOrder), 0.0f);
    }
    book.codewordCount = 1;
    std::vector<Codeword>& cw = *book.codewords;
    const std::vector<Codeword>& vs = *book.vectors;
    for (std::int32_t j = 0; j < book.cepstrumOrder; ++j) {
        float sum = 0.0f;
        for (std::int32_t i = 0; i < book.vectorCount; ++i) {
            sum += vs[i].values[j];
        }
        cw[0].values[j] = sum / static_cast<float>(book.vectorCount);
    }
    float sum = 0.0f;
    for (std::int32_t i = 0; i < book.vectorCount; ++i) {
        sum += FeatureDistance(book.cepstrumOrder, vs[i].values.data(), cw[0].values.data());
    }
    float d = sum / static_cast<float>(book.vectorCount);
    std::int32_t row = 0;
    while (d >= book.stopDistortion && book.codewordCount < book.maxCodewords) {
        ++book.codewordCount;
        Codeword& added = cw[book.codewordCount - 1];
        for (std::int32_t j = 0; j < book.cepstrumOrder; ++j) {
            added.values[j] = static_cast<float>(static_cast<double>(cw[row].values[j]) * 1.01);
            cw[row].values[j] = static_cast<float>(static_cast<double>(cw[row].values[j]) * 0.99);
        }
        added.label = book.codewordCount - 1;
        cw[row].label = row;
        float previous = PlainAssign(book);
        PlainUpdate(book);
        float current = PlainAssign(book);
        while (previous - current > book.minImprovement) {
            previous = current;
            PlainUpdate(book);
            current = PlainAssign(book);
        }
        d = current;
        row = 0;
        float best = cw[0].distortion;
        for (std::int32_t i = 1; i < book.codewordCount; ++i) {
            if (cw[i].distortion > best && cw[i].memberCount > 0) {
                row = i;
                best = cw[i].distortion;
            }
        }
    }
}

// ---- Assignment

TEST(AssignVectors, NearestCodewordTiesToLowerIndexAndMeans) {
    // Codewords (0,0) and (2,0), and a copy of (0,0) at index 2 that always ties
    // with codeword 0 and therefore never wins.
    VoiceCodebook book = WithVectors({{1, 0}, {3, 0}, {0, 2}});
    SetCodewords(book, {{0, 0}, {2, 0}, {0, 0}});
    const float mean = AssignVectors(book);

    // (1,0) is exactly half-way: distance 1 to both, goes to codeword 0.
    EXPECT_EQ((*book.vectors)[0].label, 0);
    EXPECT_EQ((*book.vectors)[1].label, 1);  // distance 1 against 3
    EXPECT_EQ((*book.vectors)[2].label, 0);  // distance 2 against sqrt(8)
    const std::vector<Codeword>& cw = *book.codewords;
    EXPECT_EQ(cw[0].memberCount, 2);
    EXPECT_FLOAT_EQ(cw[0].distortion, 1.5f);  // (1 + 2) / 2
    EXPECT_EQ(cw[1].memberCount, 1);
    EXPECT_FLOAT_EQ(cw[1].distortion, 1.0f);
    EXPECT_EQ(cw[2].memberCount, 0);
    EXPECT_EQ(cw[2].distortion, 0.0f);
    EXPECT_EQ(mean, 4.0f / 3.0f);  // (1 + 1 + 2) / 3
}

TEST(AssignVectors, ResetsCountsAndIgnoresCodewordsBeyondTheCount) {
    VoiceCodebook book = WithVectors({{5, 5}, {0, 1}});
    SetCodewords(book, {{0, 0}, {5, 5}});
    (*book.codewords)[0].memberCount = 7;
    (*book.codewords)[0].distortion = 9.0f;
    book.codewordCount = 1;  // codeword 1 is not in use
    const float mean = AssignVectors(book);
    EXPECT_EQ((*book.vectors)[0].label, 0);
    EXPECT_EQ((*book.codewords)[0].memberCount, 2);
    EXPECT_EQ((*book.codewords)[1].memberCount, 0);
    EXPECT_FLOAT_EQ(mean, (std::sqrt(50.0f) + 1.0f) / 2.0f);
}

TEST(AssignVectors, OnlyTheFirstVectorCountVectorsTakePart) {
    // Entries past vectorCount (dropped unstable frames) are zero vectors that
    // would otherwise count for codeword 0.
    VoiceCodebook book = WithVectors({{2, 0}, {0, 0}, {0, 0}});
    book.vectorCount = 1;
    SetCodewords(book, {{0, 0}, {2, 0}});
    EXPECT_EQ(AssignVectors(book), 0.0f);
    EXPECT_EQ((*book.codewords)[0].memberCount, 0);
    EXPECT_EQ((*book.codewords)[1].memberCount, 1);
}

TEST(AssignVectors, MatchesThePlainComputationBitForBitOnEveryVectorUnit) {
    // Small and large cases: the large ones take the two-thread path; odd counts
    // leave partial blocks of vectors and codewords.
    struct Case {
        std::int32_t vectors, codewords;
        bool coarse;
    };
    const std::vector<Case> cases = {{1, 1, false},     {7, 3, true},      {150, 9, false},
                                     {333, 17, true},   {2500, 64, false}, {3001, 64, true},
                                     {2412, 63, false}, {1000, 40, true}};
    const std::vector<DistanceUnit> units = AvailableDistanceUnits();
    ASSERT_FALSE(units.empty());
    for (const DistanceUnit unit : units) {
        const DistanceKernel kernel = DistanceKernelFor(unit);
        std::uint32_t seed = 11;
        for (const Case& c : cases) {
            const std::vector<Values> vectors = RandomVectors(seed++, c.vectors, 22, c.coarse);
            const std::vector<Values> codewords = RandomVectors(seed++, c.codewords, 22, c.coarse);
            VoiceCodebook fast = WithVectors(vectors);
            SetCodewords(fast, codewords);
            VoiceCodebook plain = WithVectors(vectors);
            SetCodewords(plain, codewords);
            const float fastMean = AssignVectors(fast, kernel);
            const float plainMean = PlainAssign(plain);
            SCOPED_TRACE(::testing::Message() << "unit " << static_cast<int>(unit) << ", "
                                              << c.vectors << "x" << c.codewords);
            EXPECT_TRUE(SameBits(fastMean, plainMean));
            for (std::int32_t i = 0; i < c.vectors; ++i) {
                ASSERT_EQ((*fast.vectors)[i].label, (*plain.vectors)[i].label) << "vector " << i;
            }
            ExpectSameCodewords(fast, plain);
        }
    }
}

TEST(DistanceKernels, EachAvailableUnitHasItsOwnKernelTheWidestIsTheDefault) {
    const std::vector<DistanceUnit> units = AvailableDistanceUnits();
    ASSERT_FALSE(units.empty());
    EXPECT_EQ(units.front(), DistanceUnit::Plain);
    EXPECT_EQ(BestDistanceKernel(), DistanceKernelFor(units.back()));
    std::set<DistanceKernel> kernels;
    for (const DistanceUnit unit : {DistanceUnit::Plain, DistanceUnit::Sse, DistanceUnit::Avx}) {
        const bool available = std::find(units.begin(), units.end(), unit) != units.end();
        if (available) {
            kernels.insert(DistanceKernelFor(unit));
        } else {
            // A unit the processor lacks runs the plain loops.
            EXPECT_EQ(DistanceKernelFor(unit), DistanceKernelFor(DistanceUnit::Plain));
        }
    }
    EXPECT_EQ(kernels.size(), units.size());
}

// ---- Centroids and splitting

TEST(UpdateCentroids, MeanOfMembersEmptyCodewordKeepsItsValues) {
    VoiceCodebook book = WithVectors({{1, 0}, {3, 0}, {0, 2}});
    SetCodewords(book, {{0, 0}, {2, 0}, {7, 7}});
    (void)AssignVectors(book);
    UpdateCentroids(book);
    const std::vector<Codeword>& cw = *book.codewords;
    EXPECT_EQ(cw[0].values, (Values{0.5f, 1.0f}));  // mean of (1,0) and (0,2)
    EXPECT_EQ(cw[1].values, (Values{3.0f, 0.0f}));
    EXPECT_EQ(cw[2].values, (Values{7.0f, 7.0f}));  // empty
}

TEST(UpdateCentroids, SumsInFloat32InVectorOrder) {
    // 1e8 + 1 - 1e8 in float32, in this order, is 0 (1e8 + 1 rounds to 1e8);
    // the exact mean would be 1/3.
    VoiceCodebook book = WithVectors({{1e8f}, {1.0f}, {-1e8f}});
    SetCodewords(book, {{0.0f}});
    (void)AssignVectors(book);
    UpdateCentroids(book);
    EXPECT_EQ((*book.codewords)[0].values[0], 0.0f);
}

TEST(SplitCodeword, FactorsAppliedInDoubleAndStoredAsFloat) {
    VoiceCodebook book = WithVectors({{0, 0, 0}});
    // -7.25 and 0.7f are values where float32 arithmetic (x * 1.01f) would round
    // differently; the expected results are the float32 roundings of the exact
    // products with the double constants 1.01 and 0.99, worked out separately.
    SetCodewords(book, {{-7.25f, 0.7f, 1.0f}, {0, 0, 0}});
    book.codewordCount = 2;
    SplitCodeword(book, 0);
    const std::vector<Codeword>& cw = *book.codewords;
    EXPECT_EQ(cw[1].values, (Values{-0x1.d4a3d8p+2f, 0x1.69fbe8p-1f, 0x1.028f5cp+0f}));
    EXPECT_EQ(cw[0].values, (Values{-0x1.cb5c28p+2f, 0x1.62d0e4p-1f, 0x1.fae148p-1f}));
    EXPECT_EQ(cw[1].label, 1);
    EXPECT_EQ(cw[0].label, 0);
}

TEST(SplitCodeword, SplitsTheChosenRowIntoTheLastCodeword) {
    VoiceCodebook book = WithVectors({{0}});
    SetCodewords(book, {{1.0f}, {2.0f}, {0.0f}});
    (*book.codewords)[2].label = 0;  // as set up by InitCodewordArray
    SplitCodeword(book, 1);
    const std::vector<Codeword>& cw = *book.codewords;
    EXPECT_EQ(cw[0].values[0], 1.0f);
    EXPECT_EQ(cw[1].values[0], static_cast<float>(2.0 * 0.99));
    EXPECT_EQ(cw[2].values[0], static_cast<float>(2.0 * 1.01));
    EXPECT_EQ(cw[2].label, 2);
    EXPECT_EQ(cw[1].label, 1);
}

// ---- Choice of the next codeword to split

VoiceCodebook WithCodewordStats(const std::vector<std::pair<float, std::int32_t>>& stats) {
    VoiceCodebook book;
    book.codewords.emplace();
    for (const auto& [distortion, members] : stats) {
        Codeword c;
        c.values = {0.0f};
        c.distortion = distortion;
        c.memberCount = members;
        book.codewords->push_back(c);
    }
    book.codewordCount = static_cast<std::int32_t>(stats.size());
    return book;
}

TEST(ChooseSplitRow, LargestFilledDistortionLowestIndexAmongEquals) {
    EXPECT_EQ(ChooseSplitRow(WithCodewordStats({{1.0f, 3}, {2.0f, 4}, {3.0f, 1}, {3.0f, 2}})), 2);
}

TEST(ChooseSplitRow, EmptyCodewordsAreNeverChosenExceptCodewordZero) {
    // Codeword 2 has the largest distortion but no members.
    EXPECT_EQ(ChooseSplitRow(WithCodewordStats({{1.0f, 3}, {2.0f, 4}, {5.0f, 0}})), 1);
    // Nothing beats codeword 0 strictly: codeword 0, although it is empty.
    EXPECT_EQ(ChooseSplitRow(WithCodewordStats({{0.0f, 0}, {0.0f, 5}, {0.0f, 2}})), 0);
    EXPECT_EQ(ChooseSplitRow(WithCodewordStats({{2.0f, 1}, {2.0f, 5}, {1.0f, 2}})), 0);
}

TEST(ChooseSplitRow, LooksOnlyAtCodewordsInUse) {
    VoiceCodebook book = WithCodewordStats({{1.0f, 3}, {0.5f, 4}, {9.0f, 1}});
    book.codewordCount = 2;
    EXPECT_EQ(ChooseSplitRow(book), 0);
}

// ---- Growth of the codebook

TEST(GrowCodebook, NinetyNineVectorsFailAHundredSucceed) {
    const std::vector<Values> vectors = RandomVectors(5, 100, 22, false);
    VoiceCodebook few = WithVectors({vectors.begin(), vectors.end() - 1});
    CountingProgress progress;
    progress.position = 3;
    EXPECT_FALSE(GrowCodebook(few, progress));
    EXPECT_EQ(progress.position, 0);
    EXPECT_FALSE(few.codewords.has_value());  // untrained
    ASSERT_TRUE(few.vectors.has_value());     // kept until the next release
    EXPECT_EQ(few.vectors->size(), 99u);

    VoiceCodebook enough = WithVectors(vectors);
    EXPECT_TRUE(GrowCodebook(enough, progress));
    EXPECT_TRUE(enough.codewords.has_value());
    EXPECT_FALSE(enough.vectors.has_value());  // released after training
    EXPECT_EQ(enough.codewords->size(), 64u);
}

TEST(GrowCodebook, ValidEntriesCountNotTheArraySize) {
    // 120 entries of which only 99 are valid: refused.
    VoiceCodebook book = WithVectors(RandomVectors(6, 120, 22, false));
    book.vectorCount = 99;
    NullProgress progress;
    EXPECT_FALSE(GrowCodebook(book, progress));
}

TEST(GrowCodebook, SingleCentroidCountsEveryVector) {
    // 50 vectors at 1 + 2^-10 and 50 at 1 - 2^-10: the centroid is exactly 1, and
    // every distance and so the mean distortion is 2^-10 < 0.01, so the codebook
    // stops at its first codeword, which must hold all 100 vectors.
    std::vector<Values> vectors;
    for (int i = 0; i < 100; ++i) {
        vectors.push_back({i % 2 == 0 ? 1.0f + 0x1p-10f : 1.0f - 0x1p-10f, -3.0f});
    }
    VoiceCodebook book = WithVectors(vectors);
    CountingProgress progress;
    ASSERT_TRUE(GrowCodebook(book, progress));
    EXPECT_EQ(book.codewordCount, 1);
    const Codeword& centroid = (*book.codewords)[0];
    EXPECT_EQ(centroid.values, (Values{1.0f, -3.0f}));
    EXPECT_EQ(centroid.memberCount, 100);
    EXPECT_EQ(centroid.distortion, 0x1p-10f);
    EXPECT_EQ(centroid.label, 0);
    EXPECT_EQ(progress.steps, 0);
}

TEST(GrowCodebook, StopsAtTheCodewordBoundWithOneStepPerSplit) {
    VoiceCodebook book = WithVectors(RandomVectors(7, 400, 22, false));
    CountingProgress progress;
    progress.SetRange(0, 65);
    ASSERT_TRUE(GrowCodebook(book, progress));
    EXPECT_EQ(book.codewordCount, 64);
    EXPECT_EQ(progress.steps, 63);
    EXPECT_EQ(progress.position, 0);
    std::int32_t members = 0;
    for (std::int32_t k = 0; k < 64; ++k) {
        EXPECT_EQ((*book.codewords)[k].label, k);
        members += (*book.codewords)[k].memberCount;
    }
    EXPECT_EQ(members, 400);
}

TEST(GrowCodebook, SmallerBoundIsRespected) {
    VoiceCodebook book = WithVectors(RandomVectors(8, 150, 22, false), 5);
    NullProgress progress;
    ASSERT_TRUE(GrowCodebook(book, progress));
    EXPECT_EQ(book.codewordCount, 5);
    EXPECT_EQ(book.codewords->size(), 5u);
}

TEST(GrowCodebook, MatchesThePlainGrowthBitForBitOnEveryVectorUnit) {
    // Coarse data gives ties and codewords that attract nothing; fine data the
    // ordinary case. Both must come out exactly as the plain version.
    const std::vector<std::pair<std::int32_t, bool>> cases = {
        {100, true}, {100, false}, {257, true}, {600, false}, {1500, true}};
    const std::vector<DistanceUnit> units = AvailableDistanceUnits();
    for (const DistanceUnit unit : units) {
        const DistanceKernel kernel = DistanceKernelFor(unit);
        std::uint32_t seed = 101;
        for (const auto& [count, coarse] : cases) {
            SCOPED_TRACE(::testing::Message()
                         << "unit " << static_cast<int>(unit) << ", " << count << " vectors");
            const std::vector<Values> vectors = RandomVectors(seed++, count, 22, coarse);
            VoiceCodebook trained = WithVectors(vectors);
            VoiceCodebook plain = WithVectors(vectors);
            NullProgress progress;
            ASSERT_TRUE(GrowCodebook(trained, progress, kernel));
            PlainGrow(plain);
            ExpectSameCodewords(trained, plain);
        }
    }
}

TEST(GrowCodebook, SplitsOfTheOriginLeaveEmptyCodewords) {
    // Four points around the origin: the centroid is exactly (0,0) with mean
    // distortion 1. Splitting (0,0) gives (0,0) twice; every vector ties and
    // stays with codeword 0, so each new codeword stays empty, the distortion
    // never falls, codeword 0 is split again and again up to the bound.
    std::vector<Values> vectors;
    const std::vector<Values> corners = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (int i = 0; i < 100; ++i) {
        vectors.push_back(corners[static_cast<std::size_t>(i % 4)]);
    }
    VoiceCodebook book = WithVectors(vectors);
    CountingProgress progress;
    ASSERT_TRUE(GrowCodebook(book, progress));
    EXPECT_EQ(book.codewordCount, 64);
    EXPECT_EQ(progress.steps, 63);
    const std::vector<Codeword>& cw = *book.codewords;
    EXPECT_EQ(cw[0].values, (Values{0.0f, 0.0f}));
    EXPECT_EQ(cw[0].memberCount, 100);
    EXPECT_EQ(cw[0].distortion, 1.0f);
    for (std::int32_t k = 1; k < 64; ++k) {
        EXPECT_EQ(cw[k].memberCount, 0) << "codeword " << k;
        EXPECT_EQ(cw[k].label, k);
    }
}

TEST(GrowCodebook, Deterministic) {
    const std::vector<Values> vectors = RandomVectors(9, 800, 22, false);
    VoiceCodebook first = WithVectors(vectors);
    VoiceCodebook second = WithVectors(vectors);
    NullProgress progress;
    ASSERT_TRUE(GrowCodebook(first, progress));
    ASSERT_TRUE(GrowCodebook(second, progress));
    ExpectSameCodewords(first, second);
}

// ---- Training from samples

TEST(TrainCodebook, SilenceGivesTooFewVectorsAndErasesTheOldCodebook) {
    VoiceCodebook book = WithVectors({{0, 0}});
    SetCodewords(book, {{1, 1}});
    book.cepstrumOrder = kCepstrumOrder;
    const std::vector<std::int16_t> silence(20000, 0);
    CountingProgress progress;
    SilentNotifier notifier;
    EXPECT_FALSE(TrainCodebook(book, silence, static_cast<std::int32_t>(silence.size()),
                               kSampleRate, kMaxCodewords, progress, notifier));
    EXPECT_FALSE(book.codewords.has_value());
    EXPECT_EQ(progress.min, 0);
    EXPECT_EQ(progress.max, 65);
    EXPECT_EQ(progress.steps, 1);
    EXPECT_EQ(progress.position, 0);
    EXPECT_EQ(book.maxCodewords, 64);
    EXPECT_EQ(book.sampleRate, 11025);
    EXPECT_EQ(book.sampleCount, 20000);
}

TEST(TrainCodebook, SampleCountBeyondTheSamplesIsCut) {
    VoiceCodebook book;
    const std::vector<std::int16_t> samples(500, 0);
    NullProgress progress;
    SilentNotifier notifier;
    EXPECT_FALSE(
        TrainCodebook(book, samples, 100000, kSampleRate, kMaxCodewords, progress, notifier));
    EXPECT_EQ(book.sampleCount, 500);
}

TEST(TrainCodebook, RealVoiceGrowsToTheBoundDeterministically) {
    if (!testing::EspeakAvailable()) {
        GTEST_SKIP() << "espeak-ng is not installed: no spoken phrases to train on";
    }
    std::vector<std::int16_t> samples;
    ASSERT_TRUE(testing::SpeakPhrase(
        "en", "Seven slender swans swam swiftly across the silver lake at dawn", samples));
    const auto count = static_cast<std::int32_t>(samples.size());

    VoiceCodebook first;
    CountingProgress progress;
    RecordingNotifier notifier;
    ASSERT_TRUE(
        TrainCodebook(first, samples, count, kSampleRate, kMaxCodewords, progress, notifier));
    EXPECT_EQ(first.codewordCount, 64);
    EXPECT_EQ(progress.max, 65);
    EXPECT_EQ(progress.steps, 64);
    EXPECT_EQ(progress.highest, 64);
    EXPECT_EQ(progress.position, 0);
    EXPECT_FALSE(first.vectors.has_value());

    // The same samples give the same codebook bit for bit, also when trained in
    // two halves as a tool does.
    VoiceCodebook second;
    NullProgress quiet;
    SilentNotifier silent;
    AnalyseForTraining(second, samples, count, kSampleRate, kMaxCodewords, silent);
    ASSERT_TRUE(second.vectors.has_value());
    EXPECT_GE(second.vectorCount, kMinFeatureVectors);
    ASSERT_TRUE(GrowCodebook(second, quiet));
    ExpectSameCodewords(first, second);
}

}  // namespace
}  // namespace quorvane
