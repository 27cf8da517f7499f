// quorvane-cli evaluate on a tiny corpus of three espeak-ng voices: the trials it counts,
// the decisions it takes (the same as enrol and verify take) and the scores it writes.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/LevelCheck.h"
#include "tests/cli/RunCli.h"
#include "tests/speaker/SpokenPhrase.h"
#include "workflow/Figures.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Quoted;
using testing::ReadText;
using testing::ScratchFolder;

constexpr std::array<const char*, 4> kPhrases = {
    "The quick brown fox jumps over the lazy dog near the river bank",
    "Seven silver swans were swimming slowly across the quiet lake",
    "My voice is my password and it opens every door in this house",
    "Please let me open my files today, it is really me speaking"};
// Speaker folder and espeak-ng voice.
constexpr std::array<std::array<const char*, 2>, 3> kSpeakers = {
    {{"anna", "en-us"}, {"bert", "de"}, {"chloe", "fr+f2"}}};
// espeak-ng speaks with high peaks and soft vowels; compressed like a recording level set
// for speech, its phrases pass the level checks.
constexpr const char* kLoudAsAMicrophone =
    "gain -6 compand 0.005,0.1 -60,-40,-20,-10,0,-4 gain -n -2";
constexpr int kLevels = 3;
constexpr std::array<const char*, kLevels> kLevelNames = {"High", "Medium", "Low"};

// The corpus, made once for the suite. Each speaker has enrol-1..3 and test.wav (phrase 4);
// anna also has again.wav (a copy of her enrol-1) and quiet.wav (too soft for the level
// checks); "dora" lacks enrol-3 and is skipped, her test.wav is an impostor recording; a text
// file is no recording at all.
class Corpus {
public:
    static Corpus& Get() {
        static Corpus corpus;
        return corpus;
    }
    fs::path Dir() const { return folder_.Path() / "corpus"; }
    fs::path File(const std::string& speaker, const std::string& leaf) const {
        return Dir() / speaker / leaf;
    }
    bool ready = false;

private:
    Corpus() {
        if (!testing::EspeakAvailable()) {
            return;
        }
        const fs::path spoken = folder_.Path() / "spoken.wav";
        const auto say = [&](const char* voice, int phrase, const fs::path& out) {
            fs::create_directories(out.parent_path());
            return testing::SpeakToWav(voice, kPhrases[static_cast<std::size_t>(phrase)], spoken) &&
                   testing::ConvertWithSox(spoken, "-r 11025 -c 1 -b 16", out, kLoudAsAMicrophone);
        };
        for (const auto& [name, voice] : kSpeakers) {
            for (int n = 1; n <= 3; ++n) {
                if (!say(voice, n - 1, File(name, "enrol-" + std::to_string(n) + ".wav"))) {
                    return;
                }
            }
            if (!say(voice, 3, File(name, "test.wav"))) {
                return;
            }
        }
        if (!say("en-gb+m3", 0, File("dora", "enrol-1.wav")) ||
            !say("en-gb+m3", 1, File("dora", "enrol-2.flac")) ||
            !say("en-gb+m3", 3, File("dora", "test.wav")) ||
            !testing::ConvertWithSox(File("anna", "enrol-1.wav"), "", File("anna", "quiet.wav"),
                                     "vol 0.05")) {
            return;
        }
        fs::copy_file(File("anna", "enrol-1.wav"), File("anna", "again.wav"));
        std::ofstream(File("bert", "notes.txt")) << "not a recording\n";
        ready = true;
    }
    ScratchFolder folder_;
};

// RFC 4180 fields of one CSV line.
std::vector<std::string> CsvFields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// The scores file as rows of named fields.
std::vector<std::map<std::string, std::string>> ReadScores(const fs::path& file) {
    std::istringstream in(ReadText(file));
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = CsvFields(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        const std::vector<std::string> fields = CsvFields(line);
        std::map<std::string, std::string> row;
        for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i) {
            row[header[i]] = fields[i];
        }
        rows.push_back(row);
    }
    return rows;
}

class Evaluate : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::EspeakAvailable()) {
            GTEST_SKIP() << "espeak-ng is not installed: no voices to evaluate";
        }
        ASSERT_TRUE(Corpus::Get().ready) << "espeak-ng or sox failed to make the corpus";
    }
    // evaluate --json --scores on the corpus; the JSON output and the scores' rows.
    nlohmann::json Run(int threads, const std::string& scoresLeaf = "scores.csv") {
        const CliRun run = testing::RunCli(
            work_.Path(), "evaluate " + Quoted(Corpus::Get().Dir()) + " --json --threads " +
                              std::to_string(threads) + " --scores " + Quoted(Scores(scoresLeaf)));
        EXPECT_EQ(run.exitCode, 0) << run.err;
        out_ = run.out;
        return nlohmann::json::parse(run.out, nullptr, false);
    }
    fs::path Scores(const std::string& leaf) const { return work_.Path() / leaf; }

    ScratchFolder work_;
    std::string out_;
};

TEST_F(Evaluate, CountsEveryTestRecordingAgainstEveryEnrolledSpeaker) {
    const nlohmann::json result = Run(2);
    ASSERT_FALSE(result.is_discarded()) << out_;
    ASSERT_EQ(result["enrolled"].size(), 3u);
    ASSERT_EQ(result["skipped"].size(), 1u);
    EXPECT_EQ(result["skipped"][0]["name"], "dora");
    EXPECT_EQ(result["skipped"][0]["reason"], "enrol-3: no such file");
    // test.wav of four speakers, again.wav and quiet.wav; the text file is none.
    EXPECT_EQ(result["testRecordings"], 6);
    for (const auto& level : result["levels"]) {
        EXPECT_EQ(level["genuineTrials"], 5) << level;
        EXPECT_EQ(level["impostorTrials"], 6 * 3 - 5) << level;
    }
    EXPECT_EQ(result["notes"].size(), 1u);

    const auto rows = ReadScores(Scores("scores.csv"));
    EXPECT_EQ(rows.size(), 6u * 3u);
    for (const auto& row : rows) {
        if (row.at("speaker") == "anna" && row.at("claimed") == "anna" &&
            row.at("file") == "again.wav") {
            // An enrolment phrase tried again: distance 0, accepted at every level.
            EXPECT_EQ(std::stof(row.at("distance")), 0.0f);
            for (const char* level : kLevelNames) {
                EXPECT_EQ(row.at(std::string("decision_") + level), "accept") << level;
            }
        }
        if (row.at("file") == "quiet.wav") {
            // Refused by the level checks: no distance, a rejection in every trial.
            EXPECT_EQ(row.at("distance"), "");
            EXPECT_EQ(row.at("refusal"), kLevelTooLowText);
            for (const char* level : kLevelNames) {
                EXPECT_EQ(row.at(std::string("decision_") + level), "reject") << level;
            }
        }
    }
}

TEST_F(Evaluate, OneAndTwoThreadsGiveTheSameResults) {
    Run(1, "one.csv");
    const std::string one = out_;
    Run(2, "two.csv");
    EXPECT_EQ(out_, one);
    EXPECT_EQ(ReadText(Scores("two.csv")), ReadText(Scores("one.csv")));
}

TEST_F(Evaluate, ScoresAgreeWithTheRatesPrinted) {
    const nlohmann::json result = Run(2);
    ASSERT_FALSE(result.is_discarded()) << out_;
    const auto rows = ReadScores(Scores("scores.csv"));
    for (int level = 0; level < kLevels; ++level) {
        const std::string decision = std::string("decision_") + kLevelNames[level];
        int genuine = 0;
        int rejected = 0;
        int impostor = 0;
        int accepted = 0;
        for (const auto& row : rows) {
            const bool accept = row.at(decision) == "accept";
            if (row.at("genuine") == "1") {
                ++genuine;
                rejected += accept ? 0 : 1;
            } else {
                ++impostor;
                accepted += accept ? 1 : 0;
            }
            // The decision is the distance strictly below the claimed speaker's threshold.
            const std::string& distance = row.at("distance");
            const float threshold =
                std::stof(row.at(std::string("threshold_") + kLevelNames[level]));
            EXPECT_EQ(accept, !distance.empty() && std::stof(distance) < threshold);
        }
        const nlohmann::json& rates = result["levels"][static_cast<std::size_t>(level)];
        EXPECT_EQ(rates["genuineTrials"], genuine);
        EXPECT_EQ(rates["falseRejections"], rejected);
        EXPECT_EQ(rates["impostorTrials"], impostor);
        EXPECT_EQ(rates["falseAcceptances"], accepted);
        EXPECT_NEAR(rates["frrPercent"].get<double>(), 100.0 * rejected / genuine, 1e-4);
        EXPECT_NEAR(rates["farPercent"].get<double>(), 100.0 * accepted / impostor, 1e-4);
    }
}

// enrol at each level, then verify a genuine and an impostor recording: the verdict, the
// threshold and the distance are those of the scores.
TEST_F(Evaluate, DecisionsAreThoseOfEnrolAndVerify) {
    Run(2);
    const auto rows = ReadScores(Scores("scores.csv"));
    const Corpus& corpus = Corpus::Get();
    const fs::path speakers = work_.Path() / "Speakers";
    const std::array<const char*, kLevels> options = {"high", "medium", "low"};
    for (int level = 0; level < kLevels; ++level) {
        const std::string user = std::string("bert_") + options[level];
        const CliRun enrol =
            testing::RunCli(work_.Path(), "--speakers " + Quoted(speakers) + " enrol " + user +
                                              " " + Quoted(corpus.File("bert", "enrol-1.wav")) +
                                              " " + Quoted(corpus.File("bert", "enrol-2.wav")) +
                                              " " + Quoted(corpus.File("bert", "enrol-3.wav")) +
                                              " --level " + options[level]);
        ASSERT_EQ(enrol.exitCode, 0) << enrol.err;
        for (const char* speaker : {"bert", "chloe"}) {
            const CliRun verify =
                testing::RunCli(work_.Path(), "--speakers " + Quoted(speakers) + " verify " + user +
                                                  " " + Quoted(corpus.File(speaker, "test.wav")));
            const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) {
                return r.at("speaker") == speaker && r.at("file") == "test.wav" &&
                       r.at("claimed") == "bert";
            });
            ASSERT_NE(row, rows.end());
            const bool accepted =
                row->at(std::string("decision_") + kLevelNames[level]) == "accept";
            EXPECT_EQ(verify.exitCode, accepted ? 0 : 1) << speaker << " " << options[level];
            const std::string figures =
                "Threshold: " +
                FixedText(std::stof(row->at(std::string("threshold_") + kLevelNames[level]))) +
                "  Distance:" + FixedText(std::stof(row->at("distance")));
            EXPECT_NE(verify.out.find(figures), std::string::npos) << verify.out << figures;
        }
    }
}

}  // namespace
}  // namespace quorvane
