// Prints, as hex text, every number and byte the core derives from fixed inputs: the tables
// built with the maths library (window, mel layout, transform rotations), the feature vectors
// and codebooks of synthetic voices, the distances and thresholds, the user's key words, and
// the bytes of a speaker file and of an encoded file. Float32 values are printed as their bit
// patterns. Two builds (Linux, Windows) agree exactly when their outputs are the same bytes;
// scripts/check-agreement.sh compares them.
//
// Usage: quorvane_agreement OUTPUT_FILE

#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "analysis/FrameSelection.h"
#include "analysis/MelBands.h"
#include "analysis/Spectrum.h"
#include "analysis/VoiceCodebook.h"
#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Decision.h"
#include "speaker/ModelFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/Training.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/analysis/SyntheticVoice.h"
#include "tests/support/CodingWrappers.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// Three enrolment phrases and a fourth recording to verify, each a synthetic voice of its own
// seed and length (samples at 11025 Hz).
struct Recording {
    std::uint32_t seed;
    std::int32_t samples;
};
constexpr std::array<Recording, 4> kRecordings = {{
    {101, 3 * kSampleRate},
    {202, 3 * kSampleRate + 1234},
    {303, 4 * kSampleRate},
    {404, 3 * kSampleRate + 555},
}};
// Window lengths: the analysis frame (25 ms at 11025 Hz) and two odd sizes.
constexpr std::array<std::int32_t, 3> kWindowLengths = {275, 256, 1001};
constexpr std::int32_t kTransformOrder = 10;   // the 1024-point transform of the analysis
constexpr std::size_t kPlainFileBytes = 5003;  // not a whole number of cipher blocks
constexpr std::string_view kUserName = "agreement";

class HexWriter {
public:
    explicit HexWriter(std::ostream& out) : out_(out) {}

    void Floats(std::string_view label, std::span<const float> values) {
        out_ << label << ' ' << values.size();
        for (const float v : values) {
            out_ << ' ';
            Word(std::bit_cast<std::uint32_t>(v), 8);
        }
        out_ << '\n';
    }
    void Words(std::string_view label, std::span<const std::uint32_t> values) {
        out_ << label << ' ' << values.size();
        for (const std::uint32_t v : values) {
            out_ << ' ';
            Word(v, 8);
        }
        out_ << '\n';
    }
    void Samples(std::string_view label, std::span<const std::int16_t> values) {
        out_ << label << ' ' << values.size() << ' ';
        for (const std::int16_t v : values) {
            Word(static_cast<std::uint16_t>(v), 4);
        }
        out_ << '\n';
    }
    void Bytes(std::string_view label, std::span<const std::uint8_t> values) {
        out_ << label << ' ' << values.size() << ' ';
        for (const std::uint8_t v : values) {
            Word(v, 2);
        }
        out_ << '\n';
    }
    void Number(std::string_view label, long long value) { out_ << label << ' ' << value << '\n'; }

private:
    void Word(std::uint32_t value, int digits) {
        static constexpr char kDigits[] = "0123456789abcdef";
        for (int i = digits - 1; i >= 0; --i) {
            out_ << kDigits[(value >> (4 * i)) & 0xFu];
        }
    }
    std::ostream& out_;
};

std::string Indexed(std::string_view label, std::size_t index) {
    return std::string(label) + "[" + std::to_string(index) + "]";
}

// The feature vectors (or codewords) of a record as one run of floats, with labels and
// member counts as words.
void WriteEntries(HexWriter& hex, const std::string& label, const std::vector<Codeword>& entries,
                  std::int32_t count) {
    std::vector<float> values;
    std::vector<std::uint32_t> extras;
    for (std::int32_t i = 0; i < count; ++i) {
        const Codeword& entry = entries[static_cast<std::size_t>(i)];
        values.insert(values.end(), entry.values.begin(), entry.values.end());
        extras.push_back(std::bit_cast<std::uint32_t>(entry.distortion));
        extras.push_back(static_cast<std::uint32_t>(entry.label));
        extras.push_back(static_cast<std::uint32_t>(entry.memberCount));
    }
    hex.Floats(label + ".values", values);
    hex.Words(label + ".distortion-label-members", extras);
}

// Seeded bytes of the plain file (a 32-bit linear congruential generator).
std::vector<std::uint8_t> PlainFileBytes() {
    std::vector<std::uint8_t> bytes(kPlainFileBytes);
    std::uint32_t state = 20240611u;
    for (std::uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

std::vector<std::uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteAll(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

void WriteTables(HexWriter& hex) {
    for (const std::int32_t n : kWindowLengths) {
        hex.Floats("window." + std::to_string(n), AnalysisWindow(n));
    }
    const BandLayout layout = BuildBandLayout();
    hex.Floats("bands.melOfBin", layout.melOfBin);
    hex.Floats("bands.weightA", layout.weightA);
    hex.Floats("bands.weightB", layout.weightB);
    std::vector<float> mels;
    for (int f = 0; f <= 5500; f += 25) {
        mels.push_back(MelOfFrequency(static_cast<float>(f)));
    }
    hex.Floats("mel.0-5500-step25", mels);
    // A unit impulse at 1 transforms into the rotations themselves: every tabled cosine and
    // sine reaches the output.
    std::vector<float> re(std::size_t{1} << kTransformOrder, 0.0f);
    std::vector<float> im(re.size(), 0.0f);
    re[1] = 1.0f;
    if (Fft(re, im, kTransformOrder)) {
        hex.Floats("fft.impulse1.re", re);
        hex.Floats("fft.impulse1.im", im);
    }
}

int Run(const fs::path& outputPath) {
    std::ofstream file(outputPath, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", outputPath.string().c_str());
        return 2;
    }
    HexWriter hex(file);
    WriteTables(hex);

    RecordingNotifier notifier;
    NullProgress progress;
    std::array<VoiceCodebook, 4> codebooks;
    for (std::size_t r = 0; r < kRecordings.size(); ++r) {
        const std::vector<std::int16_t> samples =
            testing::SyntheticVoice(kRecordings[r].samples, kRecordings[r].seed);
        hex.Samples(Indexed("voice", r), samples);
        VoiceCodebook& codebook = codebooks[r];
        AnalyseForTraining(codebook, samples, static_cast<std::int32_t>(samples.size()),
                           kSampleRate, kMaxCodewords, notifier);
        hex.Number(Indexed("voice", r) + ".vectorCount", codebook.vectorCount);
        WriteEntries(hex, Indexed("voice", r) + ".vectors", *codebook.vectors,
                     codebook.vectorCount);
        const bool trained = GrowCodebook(codebook, progress);
        hex.Number(Indexed("voice", r) + ".trained", trained ? 1 : 0);
        if (trained) {
            WriteEntries(hex, Indexed("voice", r) + ".codewords", *codebook.codewords,
                         codebook.codewordCount);
        }
    }
    for (std::size_t i = 0; i < notifier.entries.size(); ++i) {
        file << Indexed("notice", i) << ' ' << notifier.entries[i].text << '\n';
    }

    const std::span<const VoiceCodebook, 3> enrolment(codebooks.data(), 3);
    const std::array<float, 3> distances = {CodebookDistance(codebooks[0], codebooks[1]),
                                            CodebookDistance(codebooks[0], codebooks[2]),
                                            CodebookDistance(codebooks[1], codebooks[2])};
    hex.Floats("distances.01-02-12", distances);
    const std::array<float, 3> thresholds = {ComputeThreshold(enrolment, 0),
                                             ComputeThreshold(enrolment, 1),
                                             ComputeThreshold(enrolment, 2)};
    hex.Floats("thresholds.high-medium-low", thresholds);
    float verifyDistance = 0.0f;
    const bool accepted = VerifySpeaker(enrolment, codebooks[3], thresholds[2], verifyDistance);
    hex.Floats("verify.distance", std::span(&verifyDistance, 1));
    hex.Number("verify.accepted", accepted ? 1 : 0);

    const GostKey key = DeriveUserKey(enrolment);
    hex.Words("key", key);
    hex.Bytes("model", SerialiseModelFile(enrolment, thresholds[2]));

    // Files go into one fixed folder so that no random name reaches the output.
    const fs::path folder = fs::temp_directory_path() / "quorvane-agreement";
    std::error_code error;
    fs::remove_all(folder, error);
    fs::create_directories(folder, error);
    SilentNotifier silent;
    const int stored = StoreUserFiles(folder, kUserName, enrolment, thresholds[2], silent);
    hex.Number("speakerfile.stored", stored);
    hex.Bytes("speakerfile", ReadAll(SpeakerFilePath(folder, kUserName)));

    const std::vector<std::uint8_t> plain = PlainFileBytes();
    const fs::path plainPath = folder / "plain.bin";
    const fs::path encodedPath = folder / "plain.bin.crp";
    const fs::path decodedPath = folder / "decoded.bin";
    hex.Bytes("plainfile", plain);
    const bool written = WriteAll(plainPath, plain);
    const int encoded =
        written ? EncodeFile(plainPath, encodedPath, kUserName, key, FileSubstitutionTable) : 0;
    hex.Number("encodedfile.encoded", encoded);
    hex.Bytes("encodedfile", ReadAll(encodedPath));
    const int decoded = DecodeFile(encodedPath, decodedPath, kUserName, key, FileSubstitutionTable);
    hex.Number("encodedfile.decodedSame", decoded == 1 && ReadAll(decodedPath) == plain ? 1 : 0);
    fs::remove_all(folder, error);

    file.close();
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", outputPath.string().c_str());
        return 2;
    }
    return 0;
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quorvane_agreement OUTPUT_FILE\n");
        return 2;
    }
    return quorvane::Run(argv[1]);
}
