// Model files: the flat codeword rows, the byte layout, damaged files, and the plain
// file operations.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"
#include "speaker/ModelFile.h"
#include "tests/speaker/Codebooks.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

// A trained-looking codebook of `count` codewords; codeword i holds the values
// base + i + j / 100 and is empty where `empty` says so.
VoiceCodebook MakeCodebook(int count, float base, const std::vector<int>& empty = {}) {
    VoiceCodebook codebook = testing::FilledCodebook(
        count,
        [base](int i, int j) {
            return base + static_cast<float>(i) + static_cast<float>(j) / 100.0f;
        },
        [](int) { return 3; });
    for (Codeword& entry : *codebook.codewords) {
        entry.distortion = 0.25f;
    }
    for (const int i : empty) {
        (*codebook.codewords)[static_cast<std::size_t>(i)].memberCount = 0;
    }
    return codebook;
}

using testing::ReadBytes;
using testing::ScratchFolder;

TEST(ModelFileCodewords, CountsOnlyFilledCodewordsInUse) {
    EXPECT_EQ(CountFilledCodewords(VoiceCodebook{}), 0);
    EXPECT_EQ(CountFilledCodewords(MakeCodebook(64, 1.0f, {0, 17, 63})), 61);
    VoiceCodebook partly = MakeCodebook(8, 1.0f);
    partly.codewordCount = 5;  // entries 5..7 are allocated but not in use
    EXPECT_EQ(CountFilledCodewords(partly), 5);
}

TEST(ModelFileCodewords, ExportSkipsEmptyCodewordsAndKeepsIndexOrder) {
    const VoiceCodebook codebook = MakeCodebook(4, 10.0f, {1});
    const std::vector<float> rows = ExportCodewords(codebook);
    ASSERT_EQ(rows.size(), 3u * kCepstrumOrder);
    EXPECT_EQ(rows[0], 10.0f);               // codeword 0
    EXPECT_EQ(rows[kCepstrumOrder], 12.0f);  // codeword 2 (1 is empty)
    EXPECT_EQ(rows[2 * kCepstrumOrder + 21], 10.0f + 3.0f + 21.0f / 100.0f);  // codeword 3
}

TEST(ModelFileCodewords, ImportBuildsFilledCodewordsFromOwnCopies) {
    VoiceCodebook codebook = MakeCodebook(5, 1.0f);
    codebook.vectors.emplace(3);
    std::vector<float> rows(2 * kCepstrumOrder);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = static_cast<float>(i);
    }
    ImportCodewords(codebook, rows, 2, kCepstrumOrder);
    rows.assign(rows.size(), -1.0f);  // the rows stay the caller's
    EXPECT_EQ(codebook.maxCodewords, 2);
    EXPECT_EQ(codebook.codewordCount, 2);
    EXPECT_EQ(codebook.cepstrumOrder, kCepstrumOrder);
    EXPECT_FALSE(codebook.vectors.has_value());
    ASSERT_TRUE(codebook.codewords.has_value());
    ASSERT_EQ(codebook.codewords->size(), 2u);
    for (int i = 0; i < 2; ++i) {
        const Codeword& entry = (*codebook.codewords)[static_cast<std::size_t>(i)];
        EXPECT_EQ(entry.label, i);
        EXPECT_EQ(entry.memberCount, 1);
        ASSERT_EQ(entry.values.size(), static_cast<std::size_t>(kCepstrumOrder));
        EXPECT_EQ(entry.values[0], static_cast<float>(i * kCepstrumOrder));
        EXPECT_EQ(entry.values[21], static_cast<float>(i * kCepstrumOrder + 21));
    }
    EXPECT_EQ(CountFilledCodewords(codebook), 2);
}

TEST(ModelFileLayout, TinyFileHasTheDocumentedBytes) {
    std::array<VoiceCodebook, 3> codebooks;
    codebooks[0] = MakeCodebook(1, 1.0f);  // values 1.00, 1.01, ...
    codebooks[2] = MakeCodebook(2, 0.0f, {0});
    const std::vector<std::uint8_t> bytes = SerialiseModelFile(codebooks, 0.5f);
    ASSERT_EQ(bytes.size(), 16u + 88u * 2u);
    // phrase1Count = 1, little-endian.
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4),
              (std::vector<std::uint8_t>{1, 0, 0, 0}));
    // First value 1.0f = 0x3F800000, little-endian.
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 4, bytes.begin() + 8),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x80, 0x3F}));
    // phrase2Count = 0 right after the 88 bytes of the one row, then phrase3Count = 1.
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 92, bytes.begin() + 100),
              (std::vector<std::uint8_t>{0, 0, 0, 0, 1, 0, 0, 0}));
    // Phrase 3 stores its codeword 1 (codeword 0 is empty): first value 1.0f.
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 100, bytes.begin() + 104),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x80, 0x3F}));
    // Threshold 0.5f = 0x3F000000 at the end.
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - 4, bytes.end()),
              (std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x3F}));
}

TEST(ModelFileLayout, SizeFollowsTheFilledCounts) {
    std::array<VoiceCodebook, 3> codebooks = {
        MakeCodebook(64, 1.0f), MakeCodebook(64, 2.0f, {1, 2, 3, 4}), MakeCodebook(64, 3.0f)};
    EXPECT_EQ(SerialiseModelFile(codebooks, 1.0f).size(), 16560u);
    codebooks[1] = MakeCodebook(64, 2.0f, {0, 5, 9});
    EXPECT_EQ(SerialiseModelFile(codebooks, 1.0f).size(), 16u + 88u * 189u);
}

TEST(ModelFileLayout, ParseGivesBackEveryValueAndTheThresholdBitForBit) {
    const std::array<VoiceCodebook, 3> stored = {
        MakeCodebook(64, -3.5f, {2, 40}), MakeCodebook(60, 0.125f), MakeCodebook(13, 7.0f, {12})};
    const float threshold = std::nextafter(0.3f, 1.0f);
    const std::vector<std::uint8_t> bytes = SerialiseModelFile(stored, threshold);
    std::array<VoiceCodebook, 3> loaded;
    float loadedThreshold = 0.0f;
    ASSERT_TRUE(ParseModelFile(bytes, loaded, loadedThreshold));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(loadedThreshold),
              std::bit_cast<std::uint32_t>(threshold));
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(ExportCodewords(loaded[c]), ExportCodewords(stored[c]));
        EXPECT_EQ(loaded[c].codewordCount, CountFilledCodewords(stored[c]));
    }
}

// Every way a model file can be damaged is refused, and nothing is half-loaded.
TEST(ModelFileDamage, DamagedFilesAreRejectedAndLeaveTheOutputAlone) {
    const std::array<VoiceCodebook, 3> stored = {MakeCodebook(3, 1.0f), MakeCodebook(2, 2.0f),
                                                 MakeCodebook(1, 3.0f)};
    const std::vector<std::uint8_t> good = SerialiseModelFile(stored, 2.0f);

    const std::array<VoiceCodebook, 3> before = {MakeCodebook(4, 9.0f), MakeCodebook(4, 8.0f),
                                                 MakeCodebook(4, 7.0f)};
    auto expectRejected = [&](const std::vector<std::uint8_t>& bytes, const std::string& what) {
        std::array<VoiceCodebook, 3> out = before;
        float threshold = 42.0f;
        EXPECT_FALSE(ParseModelFile(bytes, out, threshold)) << what;
        EXPECT_EQ(threshold, 42.0f) << what;
        for (std::size_t c = 0; c < 3; ++c) {
            EXPECT_EQ(ExportCodewords(out[c]), ExportCodewords(before[c])) << what;
        }
    };

    for (std::size_t length = 0; length < good.size(); ++length) {
        expectRejected(std::vector<std::uint8_t>(good.begin(), good.begin() + length),
                       "truncated to " + std::to_string(length));
    }
    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    expectRejected(longer, "one byte too many");

    std::vector<std::uint8_t> negative = good;
    negative[0] = 0xFF, negative[1] = 0xFF, negative[2] = 0xFF, negative[3] = 0xFF;
    expectRejected(negative, "count -1");

    // Count 65 with the matching length: too many codewords for a codebook.
    std::vector<std::uint8_t> tooMany = {65, 0, 0, 0};
    tooMany.resize(4 + 65 * 88, 0);
    tooMany.insert(tooMany.end(), 12, 0);
    expectRejected(tooMany, "count 65");
    // The same shape with 64 is a valid file.
    std::vector<std::uint8_t> largest = {64, 0, 0, 0};
    largest.resize(4 + 64 * 88, 0);
    largest.insert(largest.end(), 8, 0);
    largest.insert(largest.end(), {0x00, 0x00, 0x80, 0x3F});
    std::array<VoiceCodebook, 3> out;
    float threshold = 0.0f;
    EXPECT_TRUE(ParseModelFile(largest, out, threshold));
    EXPECT_EQ(out[0].codewordCount, 64);
    EXPECT_EQ(out[1].codewordCount, 0);
    EXPECT_EQ(threshold, 1.0f);

    std::vector<std::uint8_t> notANumber = good;
    notANumber[4 + 3] = 0x7F, notANumber[4 + 2] = 0xC0;  // first value becomes a NaN
    expectRejected(notANumber, "NaN value");
    std::vector<std::uint8_t> infiniteThreshold = good;
    infiniteThreshold[good.size() - 1] = 0x7F, infiniteThreshold[good.size() - 2] = 0x80;
    infiniteThreshold[good.size() - 3] = 0, infiniteThreshold[good.size() - 4] = 0;
    expectRejected(infiniteThreshold, "infinite threshold");
}

TEST(ModelFilePlain, WriteThenReadGivesTheSameModel) {
    const ScratchFolder folder;
    const std::array<VoiceCodebook, 3> stored = {MakeCodebook(5, 1.0f), MakeCodebook(6, 2.0f),
                                                 MakeCodebook(7, 3.0f, {6})};
    RecordingNotifier notifier;
    const std::filesystem::path path = folder.Path() / "model.dat";
    ASSERT_TRUE(WriteModelFile(path, stored, 0.75f, notifier));
    EXPECT_EQ(ReadBytes(path), SerialiseModelFile(stored, 0.75f));
    std::array<VoiceCodebook, 3> loaded;
    float threshold = 0.0f;
    ASSERT_TRUE(ReadModelFile(path, loaded, threshold, notifier));
    EXPECT_EQ(threshold, 0.75f);
    EXPECT_EQ(ExportCodewords(loaded[2]), ExportCodewords(stored[2]));
    EXPECT_TRUE(notifier.entries.empty());
    // Only the model file is left in the folder: no temporary file remains.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(ModelFilePlain, FailuresReportErrorWithOpeningFiles) {
    const ScratchFolder folder;
    const std::array<VoiceCodebook, 3> stored = {MakeCodebook(5, 1.0f), MakeCodebook(6, 2.0f),
                                                 MakeCodebook(7, 3.0f)};
    RecordingNotifier notifier;
    EXPECT_FALSE(WriteModelFile(folder.Path() / "missing" / "model.dat", stored, 1.0f, notifier));
    std::array<VoiceCodebook, 3> loaded;
    float threshold = 5.0f;
    EXPECT_FALSE(ReadModelFile(folder.Path() / "none.dat", loaded, threshold, notifier));
    // A damaged file is refused like one that cannot be opened.
    const std::filesystem::path damaged = folder.Path() / "damaged.dat";
    std::ofstream(damaged, std::ios::binary) << "abc";
    EXPECT_FALSE(ReadModelFile(damaged, loaded, threshold, notifier));
    EXPECT_EQ(threshold, 5.0f);
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>(3, "Error with opening files")));
}

TEST(ModelFilePlain, FailedWriteLeavesTheExistingFile) {
    const ScratchFolder folder;
    const std::filesystem::path path = folder.Path() / "model.dat";
    // A folder in the way of the rename: writing must fail and change nothing.
    std::filesystem::create_directories(path / "inside");
    const std::array<VoiceCodebook, 3> stored = {MakeCodebook(5, 1.0f), MakeCodebook(6, 2.0f),
                                                 MakeCodebook(7, 3.0f)};
    RecordingNotifier notifier;
    EXPECT_FALSE(WriteModelFile(path, stored, 1.0f, notifier));
    EXPECT_TRUE(std::filesystem::is_directory(path / "inside"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace quorvane
