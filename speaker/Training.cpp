#include "speaker/Training.h"

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

#include "analysis/FrameWorkers.h"

namespace quorvane {

namespace {

// Below this many vector/codeword pairs a second thread costs more than it saves.
constexpr std::int64_t kParallelMinPairs = 16384;

// The vectors of a record as one contiguous row-major array, built once per
// training instead of chasing one heap block per vector in every pass.
struct FlatVectors {
    std::int32_t dimension = 0;
    std::int32_t count = 0;
    std::vector<float> data;  // count rows of dimension values

    const float* Row(std::int32_t i) const {
        return data.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(dimension);
    }
};

// True when the record holds vectorCount usable vectors of its dimension.
bool VectorsUsable(const VoiceCodebook& codebook) {
    if (!codebook.vectors || codebook.cepstrumOrder < 1 || codebook.vectorCount < 0 ||
        codebook.vectors->size() < static_cast<std::size_t>(codebook.vectorCount)) {
        return false;
    }
    const auto dimension = static_cast<std::size_t>(codebook.cepstrumOrder);
    for (std::int32_t i = 0; i < codebook.vectorCount; ++i) {
        if ((*codebook.vectors)[static_cast<std::size_t>(i)].values.size() < dimension) {
            return false;
        }
    }
    return true;
}

// True when the first codewordCount codewords exist and hold full values.
bool CodewordsUsable(const VoiceCodebook& codebook) {
    if (!codebook.codewords || codebook.cepstrumOrder < 1 || codebook.codewordCount < 1 ||
        codebook.codewords->size() < static_cast<std::size_t>(codebook.codewordCount)) {
        return false;
    }
    const auto dimension = static_cast<std::size_t>(codebook.cepstrumOrder);
    for (std::int32_t k = 0; k < codebook.codewordCount; ++k) {
        if ((*codebook.codewords)[static_cast<std::size_t>(k)].values.size() < dimension) {
            return false;
        }
    }
    return true;
}

FlatVectors Flatten(const VoiceCodebook& codebook) {
    FlatVectors flat;
    flat.dimension = codebook.cepstrumOrder;
    flat.count = codebook.vectorCount;
    const auto dimension = static_cast<std::size_t>(flat.dimension);
    flat.data.resize(static_cast<std::size_t>(flat.count) * dimension);
    for (std::int32_t i = 0; i < flat.count; ++i) {
        const std::vector<float>& values = (*codebook.vectors)[static_cast<std::size_t>(i)].values;
        std::copy_n(values.begin(), dimension,
                    flat.data.begin() + static_cast<std::ptrdiff_t>(i * dimension));
    }
    return flat;
}

// The codewords in use, transposed: component j of codeword k at
// [j * stride + k], with stride a whole number of lane blocks. Padding lanes
// hold zeros; their distances are computed but never looked at.
struct CodewordColumns {
    std::int32_t count = 0;
    std::int32_t stride = 0;
    std::vector<float> data;
};

CodewordColumns Transpose(const VoiceCodebook& codebook) {
    CodewordColumns columns;
    columns.count = codebook.codewordCount;
    columns.stride = (columns.count + kLaneBlock - 1) / kLaneBlock * kLaneBlock;
    columns.data.assign(
        static_cast<std::size_t>(columns.stride) * static_cast<std::size_t>(codebook.cepstrumOrder),
        0.0f);
    for (std::int32_t k = 0; k < columns.count; ++k) {
        const std::vector<float>& values =
            (*codebook.codewords)[static_cast<std::size_t>(k)].values;
        for (std::int32_t j = 0; j < codebook.cepstrumOrder; ++j) {
            columns.data[static_cast<std::size_t>(j * columns.stride + k)] =
                values[static_cast<std::size_t>(j)];
        }
    }
    return columns;
}

// Nearest codeword of the vectors first .. last - 1: the distance to codeword 0
// is the first best, and a later codeword replaces it only when strictly
// nearer, so ties go to the lower index.
void NearestCodewords(DistanceKernel distancesOf, const FlatVectors& flat,
                      const CodewordColumns& columns, std::int32_t first, std::int32_t last,
                      std::int32_t* labels, float* distances) {
    for (std::int32_t group = first; group < last; group += kVectorBlock) {
        const std::int32_t rowCount = std::min(kVectorBlock, last - group);
        const float* rows[kVectorBlock] = {};
        std::int32_t bestIndex[kVectorBlock] = {};
        float best[kVectorBlock] = {};
        for (std::int32_t r = 0; r < rowCount; ++r) {
            rows[r] = flat.Row(group + r);
        }
        for (std::int32_t blockStart = 0; blockStart < columns.stride; blockStart += kLaneBlock) {
            DistanceBlock sums;
            distancesOf(rows, rowCount, flat.dimension, columns.data.data() + blockStart,
                        columns.stride, sums);
            const std::int32_t lanes = std::min(kLaneBlock, columns.count - blockStart);
            for (std::int32_t r = 0; r < rowCount; ++r) {
                const float* const distance = sums[r];
                float nearest = best[r];
                std::int32_t startLane = 0;
                if (blockStart == 0) {
                    nearest = distance[0];
                    bestIndex[r] = 0;
                    startLane = 1;
                } else {
                    // Most blocks hold nothing nearer than the best so far; a
                    // branch-free look finds out before the ordered scan.
                    bool nearer = false;
                    for (std::int32_t lane = 0; lane < lanes; ++lane) {
                        nearer |= distance[lane] < nearest;
                    }
                    if (!nearer) {
                        continue;
                    }
                }
                for (std::int32_t lane = startLane; lane < lanes; ++lane) {
                    if (distance[lane] < nearest) {
                        nearest = distance[lane];
                        bestIndex[r] = blockStart + lane;
                    }
                }
                best[r] = nearest;
            }
        }
        for (std::int32_t r = 0; r < rowCount; ++r) {
            labels[group + r] = bestIndex[r];
            distances[group + r] = best[r];
        }
    }
}

float AssignFlat(VoiceCodebook& codebook, const FlatVectors& flat, DistanceKernel kernel) {
    std::vector<Codeword>& codewords = *codebook.codewords;
    for (std::int32_t k = 0; k < codebook.codewordCount; ++k) {
        codewords[static_cast<std::size_t>(k)].distortion = 0.0f;
        codewords[static_cast<std::size_t>(k)].memberCount = 0;
    }
    if (flat.count == 0) {
        return 0.0f;
    }

    // The nearest-codeword search is independent for every vector, so it may
    // run on two threads; the sums below are then taken in vector order.
    const CodewordColumns columns = Transpose(codebook);
    std::vector<std::int32_t> labels(static_cast<std::size_t>(flat.count));
    std::vector<float> distances(static_cast<std::size_t>(flat.count));
    const std::int64_t pairs = static_cast<std::int64_t>(flat.count) * columns.count;
    if (pairs >= kParallelMinPairs && std::thread::hardware_concurrency() >= 2) {
        const std::int32_t half = flat.count / 2;
        std::thread helper(NearestCodewords, kernel, std::cref(flat), std::cref(columns), half,
                           flat.count, labels.data(), distances.data());
        NearestCodewords(kernel, flat, columns, 0, half, labels.data(), distances.data());
        helper.join();
    } else {
        NearestCodewords(kernel, flat, columns, 0, flat.count, labels.data(), distances.data());
    }

    float total = 0.0f;
    for (std::int32_t i = 0; i < flat.count; ++i) {
        const std::int32_t label = labels[static_cast<std::size_t>(i)];
        const float distance = distances[static_cast<std::size_t>(i)];
        Codeword& winner = codewords[static_cast<std::size_t>(label)];
        (*codebook.vectors)[static_cast<std::size_t>(i)].label = label;
        winner.distortion += distance;
        ++winner.memberCount;
        total += distance;
    }
    for (std::int32_t k = 0; k < codebook.codewordCount; ++k) {
        Codeword& codeword = codewords[static_cast<std::size_t>(k)];
        if (codeword.memberCount > 0) {
            codeword.distortion /= static_cast<float>(codeword.memberCount);
        }
    }
    return total / static_cast<float>(flat.count);
}

void UpdateFlat(VoiceCodebook& codebook, const FlatVectors& flat) {
    // One pass gathers the float32 sums of the vectors of every label in vector
    // order; each filled codeword then takes the mean of the vectors carrying
    // its own label.
    const std::int32_t count = codebook.codewordCount;
    const std::int32_t dimension = flat.dimension;
    std::vector<float> sums(static_cast<std::size_t>(count) * static_cast<std::size_t>(dimension),
                            0.0f);
    std::vector<std::int32_t> members(static_cast<std::size_t>(count), 0);
    for (std::int32_t i = 0; i < flat.count; ++i) {
        const std::int32_t label = (*codebook.vectors)[static_cast<std::size_t>(i)].label;
        if (label < 0 || label >= count) {
            continue;
        }
        float* const sum = sums.data() + static_cast<std::ptrdiff_t>(label * dimension);
        const float* const x = flat.Row(i);
        for (std::int32_t j = 0; j < dimension; ++j) {
            sum[j] += x[j];
        }
        ++members[static_cast<std::size_t>(label)];
    }
    for (std::int32_t k = 0; k < count; ++k) {
        Codeword& codeword = (*codebook.codewords)[static_cast<std::size_t>(k)];
        const std::int32_t label = codeword.label;
        if (codeword.memberCount <= 0 || label < 0 || label >= count ||
            members[static_cast<std::size_t>(label)] == 0) {
            continue;
        }
        const float divisor = static_cast<float>(members[static_cast<std::size_t>(label)]);
        const float* const sum = sums.data() + static_cast<std::ptrdiff_t>(label * dimension);
        for (std::int32_t j = 0; j < dimension; ++j) {
            codeword.values[static_cast<std::size_t>(j)] = sum[j] / divisor;
        }
    }
}

}  // namespace

void AnalyseForTraining(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                        std::int32_t sampleCount, std::int32_t sampleRate,
                        std::int32_t maxCodewords, Notifier& notifier, AnalysisReport* report) {
    ReleaseCodebook(codebook);
    const auto available = static_cast<std::int64_t>(samples.size());
    const auto count = static_cast<std::int32_t>(
        std::clamp(static_cast<std::int64_t>(sampleCount), std::int64_t{0}, available));
    codebook.maxCodewords = maxCodewords;
    codebook.sampleRate = sampleRate;
    codebook.sampleCount = count;
    AnalysisReport unused;
    AnalyseRecording(codebook, samples.first(static_cast<std::size_t>(count)), notifier,
                     DefaultAnalysisThreads(), report != nullptr ? *report : unused);
}

bool GrowCodebook(VoiceCodebook& codebook, Progress& progress, DistanceKernel kernel) {
    if (codebook.maxCodewords < 1 || codebook.vectorCount < kMinFeatureVectors ||
        !VectorsUsable(codebook)) {
        progress.SetPosition(0);
        return false;
    }
    const FlatVectors flat = Flatten(codebook);
    const std::int32_t dimension = flat.dimension;
    const auto vectorCount = static_cast<float>(flat.count);

    std::vector<Codeword> entries(static_cast<std::size_t>(codebook.maxCodewords));
    InitCodewordArray(codebook, entries, codebook.maxCodewords);
    codebook.codewords = std::move(entries);
    codebook.codewordCount = 1;

    // Codeword 0: the centroid of all vectors, float32 sums in vector order.
    Codeword& centroid = (*codebook.codewords)[0];
    for (std::int32_t j = 0; j < dimension; ++j) {
        float sum = 0.0f;
        for (std::int32_t i = 0; i < flat.count; ++i) {
            sum += flat.Row(i)[j];
        }
        centroid.values[static_cast<std::size_t>(j)] = sum / vectorCount;
    }
    float total = 0.0f;
    for (std::int32_t i = 0; i < flat.count; ++i) {
        total += FeatureDistance(dimension, flat.Row(i), centroid.values.data());
    }
    float distortion = total / vectorCount;

    std::int32_t row = 0;
    bool grown = false;
    while (distortion >= codebook.stopDistortion &&
           codebook.codewordCount < codebook.maxCodewords) {
        ++codebook.codewordCount;
        SplitCodeword(codebook, row);
        float previous = AssignFlat(codebook, flat, kernel);
        UpdateFlat(codebook, flat);
        float current = AssignFlat(codebook, flat, kernel);
        while (previous - current > codebook.minImprovement) {
            previous = current;
            UpdateFlat(codebook, flat);
            current = AssignFlat(codebook, flat, kernel);
        }
        distortion = current;
        row = ChooseSplitRow(codebook);
        grown = true;
        progress.StepIt();
    }
    if (!grown) {
        // No assignment pass ran, so nothing has counted the members: the single
        // centroid holds every vector. Without this it would count as empty and
        // the trained codebook could be neither compared nor stored.
        (*codebook.codewords)[0].memberCount = flat.count;
        (*codebook.codewords)[0].distortion = distortion;
    }

    codebook.vectors.reset();
    progress.SetPosition(0);
    return true;
}

bool TrainCodebook(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                   std::int32_t sampleCount, std::int32_t sampleRate, std::int32_t maxCodewords,
                   Progress& progress, Notifier& notifier, DistanceKernel kernel) {
    // A codebook has room for at most kMaxCodewords entries everywhere it is
    // stored; outside 1 .. kMaxCodewords there is nothing sensible to train.
    const std::int32_t bound = std::clamp(maxCodewords, 0, kMaxCodewords);
    progress.SetRange(0, bound + 1);
    progress.SetPosition(0);
    progress.SetStep(1);
    if (bound != maxCodewords || maxCodewords < 1) {
        ReleaseCodebook(codebook);
        return false;
    }
    AnalyseForTraining(codebook, samples, sampleCount, sampleRate, maxCodewords, notifier);
    progress.StepIt();
    return GrowCodebook(codebook, progress, kernel);
}

float AssignVectors(VoiceCodebook& codebook, DistanceKernel kernel) {
    if (!VectorsUsable(codebook) || !CodewordsUsable(codebook)) {
        return 0.0f;
    }
    return AssignFlat(codebook, Flatten(codebook), kernel);
}

void UpdateCentroids(VoiceCodebook& codebook) {
    if (!VectorsUsable(codebook) || !CodewordsUsable(codebook)) {
        return;
    }
    UpdateFlat(codebook, Flatten(codebook));
}

std::int32_t ChooseSplitRow(const VoiceCodebook& codebook) {
    if (!codebook.codewords || codebook.codewords->empty()) {
        return 0;
    }
    const std::vector<Codeword>& codewords = *codebook.codewords;
    std::int32_t row = 0;
    float best = codewords[0].distortion;
    const auto count =
        std::min(static_cast<std::size_t>(std::max(codebook.codewordCount, 0)), codewords.size());
    for (std::size_t i = 1; i < count; ++i) {
        const Codeword& codeword = codewords[i];
        if (codeword.distortion > best && codeword.memberCount > 0) {
            row = static_cast<std::int32_t>(i);
            best = codeword.distortion;
        }
    }
    return row;
}

void SplitCodeword(VoiceCodebook& codebook, std::int32_t row) {
    const std::int32_t added = codebook.codewordCount - 1;
    if (!CodewordsUsable(codebook) || row < 0 || row >= added) {
        return;
    }
    Codeword& source = (*codebook.codewords)[static_cast<std::size_t>(row)];
    Codeword& split = (*codebook.codewords)[static_cast<std::size_t>(added)];
    for (std::int32_t j = 0; j < codebook.cepstrumOrder; ++j) {
        const auto index = static_cast<std::size_t>(j);
        const double value = source.values[index];
        split.values[index] = static_cast<float>(value * kSplitUp);
        source.values[index] = static_cast<float>(value * kSplitDown);
    }
    split.label = added;
    source.label = row;
}

}  // namespace quorvane
